#!/usr/bin/env bash
# checkdeb.sh BUILD_DIR APP_ID: makes the Debian package from the build and checks it: the files it
# installs (and that it installs nothing the user owns), its control fields, lintian, and the
# desktop and AppStream files. Leaves the package at BUILD_DIR/package-test/tallow.deb for the
# install test.
set -euo pipefail
build=$(cd "$1" && pwd)
appid=$2
out=$build/package-test
rm -rf "$out"
mkdir -p "$out"
fail=0
bad() { echo "FAIL: $*"; fail=1; }

(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
debs=("$out"/tallow_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "FAIL: no single package in $out"; ls -l "$out"; exit 1; }
deb=${debs[0]}
ln -sf "$(basename "$deb")" "$out/tallow.deb"
echo "package: $(basename "$deb") $(stat -c %s "$deb") bytes"

# Files the package must hold (regular files, as dpkg-deb lists them).
dpkg-deb -c "$deb" | awk '{print $1, $6}' >"$out/contents"
expect_files=(
  ./usr/bin/Tallow
  ./usr/share/tallow/Config.ini
  ./usr/share/tallow/skin/style.css
  ./usr/share/tallow/skin/images/check_on.png
  ./usr/share/tallow/Skin/buttons/sys_cls.png
  ./usr/share/tallow/language/tallow_zh.qm
  ./usr/share/tallow/language/SimpChinese_Qt.qm
  "./usr/share/applications/$appid.desktop"
  "./usr/share/metainfo/$appid.metainfo.xml"
  ./usr/share/man/man1/Tallow.1.gz
  ./usr/share/doc/tallow/copyright
  ./usr/share/doc/tallow/changelog.Debian.gz
)
for n in 16 22 24 32 48 64 128 256; do
  expect_files+=("./usr/share/icons/hicolor/${n}x${n}/apps/$appid.png")
done
# The command-line companion comes with its manual page and completion when the tree has it.
[ -n "${TALLOWCTL:-}" ] && expect_files+=(./usr/bin/tallowctl)
[ -n "${TALLOWCTL_MAN:-}" ] && expect_files+=(./usr/share/man/man1/tallowctl.1.gz)
[ -n "${TALLOWCTL_COMPLETION:-}" ] && expect_files+=(./usr/share/bash-completion/completions/tallowctl)
for f in "${expect_files[@]}"; do
  grep -q -- "^-[rwx-]* $f\$" "$out/contents" || bad "missing $f"
done
# Executables are executable, data is not.
for exe in ./usr/bin/Tallow ${TALLOWCTL:+./usr/bin/tallowctl}; do
  grep -q "^-rwxr-xr-x $exe\$" "$out/contents" || bad "$exe is not mode 0755"
done
if grep -E '^-..x.* \./usr/share/' "$out/contents"; then bad "executable files under /usr/share"; fi
# Nothing outside /usr, and nothing the user owns: settings, logs and records live in their home.
if grep -vE ' \./(usr(/.*)?)?$' "$out/contents"; then bad "files outside /usr"; fi
if grep -E '/(RunLog|oemidupload|Temp|LogoBin|LogoBinTmp)(/|$)|CrashDumpFile|/bin/Config\.ini' "$out/contents"; then
  bad "the package holds files the user owns"
fi
# Icons are the sizes they claim.
mkdir -p "$out/root"
dpkg-deb -x "$deb" "$out/root"
for n in 16 22 24 32 48 64 128 256; do
  png="$out/root/usr/share/icons/hicolor/${n}x${n}/apps/$appid.png"
  [ -f "$png" ] || continue
  size=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$size" = "${n}x${n}" ] || bad "$png is $size"
done

# Control fields: dependencies found by dpkg-shlibdeps (Qt among them), not a hand list.
dpkg-deb -f "$deb" Package Version Section Maintainer Depends Recommends >"$out/control"
cat "$out/control"
grep -q '^Package: tallow$' "$out/control" || bad "package name"
grep -q '^Section: net$' "$out/control" || bad "section"
grep -qE '^Maintainer: .+ <[^@ ]+@[^@ ]+>$' "$out/control" || bad "maintainer"
for lib in libqt6widgets6 libqt6network6 libc6 libssl3 libjsoncpp25 libzzip-0-13 libcurl4 libxml2; do
  grep -qE "^Depends: (.*[ ,])?$lib( |,|$)" "$out/control" || bad "Depends lacks $lib"
done

echo "--- lintian"
lintian --fail-on error "$deb" 2>&1 | tee "$out/lintian.log" || bad "lintian reports errors"
if grep -q '^E: ' "$out/lintian.log"; then bad "lintian errors"; fi

echo "--- desktop-file-validate"
desktop-file-validate "$out/root/usr/share/applications/$appid.desktop" || bad "desktop file"
echo "--- appstreamcli validate"
appstreamcli validate --no-net "$out/root/usr/share/metainfo/$appid.metainfo.xml" || bad "metainfo"
exit $fail
