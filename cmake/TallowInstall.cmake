# The installed layout (GNUInstallDirs) and the Debian package made from it.
#
# An installed copy finds its data in <datadir>/tallow (see src/resources/install.cmake) and keeps
# the user's settings and records in the XDG directories (AppPaths), so nothing the user owns is
# ever under the prefix and an upgrade cannot touch it.
include(GNUInstallDirs)
# Installing (and packaging) takes what the build made; it does not build the whole tree, tests and
# all, first. Build tallow_installables (./tallow.sh package does) or everything before installing.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS Tallow RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/${TALLOW_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/${TALLOW_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# Debian wants manual pages and changelogs compressed, reproducibly (no name, no time stamp).
find_program(TALLOW_GZIP gzip REQUIRED)
set(pkgdocs ${CMAKE_BINARY_DIR}/packaging)
set(pkgdoc_outputs)
function(tallow_gzipped source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${pkgdocs}
    COMMAND ${TALLOW_GZIP} -9n -c ${source} > ${output}
    DEPENDS ${source} VERBATIM)
  set(pkgdoc_outputs ${pkgdoc_outputs} ${output} PARENT_SCOPE)
endfunction()

tallow_gzipped(${CMAKE_SOURCE_DIR}/packaging/Tallow.1 ${pkgdocs}/Tallow.1.gz)
install(FILES ${pkgdocs}/Tallow.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
tallow_gzipped(${CMAKE_SOURCE_DIR}/packaging/changelog ${pkgdocs}/changelog.Debian.gz)
install(FILES ${pkgdocs}/changelog.Debian.gz ${CMAKE_SOURCE_DIR}/packaging/copyright
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tallow)

# The command-line companion, its manual page and its bash completion, once they are in the tree.
if(TARGET tallowctl)
  install(TARGETS tallowctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/src/ctl/tallowctl.1)
  tallow_gzipped(${CMAKE_SOURCE_DIR}/src/ctl/tallowctl.1 ${pkgdocs}/tallowctl.1.gz)
  install(FILES ${pkgdocs}/tallowctl.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/src/ctl/tallowctl.bash-completion)
  install(FILES ${CMAKE_SOURCE_DIR}/src/ctl/tallowctl.bash-completion
          DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME tallowctl)
endif()
add_custom_target(tallow_pkgdocs ALL DEPENDS ${pkgdoc_outputs})

# Everything the install rules take, for building a package without the tests.
add_custom_target(tallow_installables DEPENDS Tallow tallow_appdir tallow_pkgdocs)
if(TARGET tallowctl)
  add_dependencies(tallow_installables tallowctl)
endif()

# The Debian package: cpack -G DEB, or ./tallow.sh package (into build/package/). Its dependencies come from the built
# executables (dpkg-shlibdeps), not from a hand-kept list.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tallow)
set(CPACK_PACKAGE_VENDOR "Tallow developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Tallow maintainers <maintainers@tallow.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch service tool for network video devices")
set(CPACK_PACKAGE_DESCRIPTION
    "Tallow finds the DVRs, NVRs and IP cameras on the local network and runs
one job over the devices an operator ticks: a firmware upgrade, a custom boot
logo, the manufacturer ID (OEMID) with its factory records uploaded over HTTPS,
clock, time zone and language settings, or new IPv4 addresses. Settings, run
logs and factory records live in the user's own directories.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The ONVIF side loads libcurl and libxml2 at its first use instead of linking them (a faster start),
# so dpkg-shlibdeps cannot see them: these two are named here.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4, libxml2")
# mksquashfs builds logo packages for squashfs devices; xdg-open shows a made package's folder.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "squashfs-tools, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
