#!/usr/bin/env bash
# installroot.sh DEB ROOT DEVSIM OUT: installs the package DEB with apt into a throw-away copy of the
# Debian root ROOT (an overlay in a private mount namespace, so the cached root stays clean), starts
# the installed Tallow as the user "tech" under a virtual X display against a devsim fleet on
# loopback, and checks that Search lists the fleet; runs the installed tallowctl against the same
# fleet when the package has it; upgrades to a newer package and removes it, and checks that the
# user's settings, logs and records are still there, byte for byte. The probe's listing and its
# picture of the window are left in OUT.
set -euo pipefail
if [ "${1:-}" != --inside ]; then
  [ "$(id -u)" -eq 0 ] || { echo "installroot: needs root (chroot, mounts)"; exit 77; }
  exec unshare --mount --propagation private "$0" --inside "$@"
fi
shift
deb=$1
root=$2
devsim=$3
out=$4
fail=0
bad() { echo "FAIL: $*"; fail=1; }
mkdir -p "$out"
rm -f "$out"/probe.txt "$out"/probe.txt.png

run=$(mktemp -d /tmp/tallow-installroot.XXXXXX)
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  # The mount namespace ends with this process and takes the overlay with it.
  umount -R "$run/merged" 2>/dev/null || true
  umount "$run" 2>/dev/null || true
  rm -rf "$run"
}
trap cleanup EXIT
mount -t tmpfs tmpfs "$run"
mkdir -p "$run/upper" "$run/work" "$run/merged" "$run/state"
mount -t overlay overlay -o "lowerdir=$root,upperdir=$run/upper,workdir=$run/work" "$run/merged"
m=$run/merged
mount -t proc proc "$m/proc"
mount --rbind /dev "$m/dev"
mount -t tmpfs tmpfs "$m/tmp"
in_root() { chroot "$m" "$@"; }
as_tech() { chroot --userspec=tech:tech "$m" env -i HOME=/home/tech PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }

# 1. Install with apt; every dependency is in the root already, so apt needs no archive.
cp "$deb" "$m/tmp/tallow.deb"
in_root apt-get install -y -q --no-install-recommends /tmp/tallow.deb >"$run/apt.log" 2>&1 ||
  { cat "$run/apt.log"; bad "apt-get install"; exit 1; }
echo "installed: $(in_root dpkg-query -W -f='${Package} ${Version}' tallow)"

# 2. The installed copy names the user's directories.
as_tech tallowctl --version | tee "$run/version.txt"
grep -q '^Settings (Config.ini): /home/tech/.config/tallow/Config.ini$' "$run/version.txt" || bad "--version: Config.ini"
grep -q '^Run logs: /home/tech/.local/share/tallow/RunLog$' "$run/version.txt" || bad "--version: run logs"
grep -q '^Shipped data: /usr/share/tallow$' "$run/version.txt" || bad "--version: shipped data"
cmp -s "$m/usr/share/tallow/Config.ini" "$m/home/tech/.config/tallow/Config.ini" ||
  bad "first start did not seed Config.ini from the shipped defaults"

# 3. A fleet on loopback addresses of its own (the root shares this network namespace).
port=$((40000 + RANDOM % 10000))
search=$((port + 1))
base=127.0.$((100 + RANDOM % 100)).10
"$devsim" --count 8 --base-ip "$base" --port "$port" --search-port "$search" --state "$run/state" \
  >"$run/devsim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do
  grep -q '^ready ' "$run/devsim.log" && break
  kill -0 "$sim" 2>/dev/null || break
  sleep 0.1
done
grep -q '^ready ' "$run/devsim.log" || { cat "$run/devsim.log"; bad "devsim did not start"; exit 1; }
prefix=${base%.*}
expected=$(for i in $(seq 10 17); do echo "$prefix.$i"; done)

# 4. The installed Tallow, on a virtual display: its probe clicks Search and lists the table.
set +e
as_tech TALLOW_PROBE=/home/tech/probe.txt TALLOW_NETSDK_SEARCH_SCOPE=loopback TALLOW_NETSDK_SEARCH_PORT="$search" \
  timeout 120 xvfb-run -a -s "-screen 0 1280x800x24" Tallow >"$run/tallow.log" 2>&1
status=$?
set -e
cp "$m/home/tech/probe.txt" "$m/home/tech/probe.txt.png" "$out/" 2>/dev/null || true
[ $status -eq 0 ] || { tail -20 "$run/tallow.log"; bad "Tallow under the probe ended with $status"; }
echo "--- the window's table (probe)"
cat "$out/probe.txt" 2>/dev/null || bad "no probe output"
listed=$(tail -n +2 "$out/probe.txt" 2>/dev/null | grep -oE "\\b$prefix\\.[0-9]+\\b" | sort -u)
[ "$listed" = "$expected" ] || bad "Search listed [$(echo $listed)], expected [$(echo $expected)]"
[ "$(tail -n +2 "$out/probe.txt" 2>/dev/null | wc -l)" -eq 8 ] || bad "the table does not have 8 rows"
[ -s "$out/probe.txt.png" ] && echo "window picture: $out/probe.txt.png"

# 5. The installed command-line companion against the same fleet.
if [ -x "$m/usr/bin/tallowctl" ]; then
  echo "--- tallowctl search --json"
  as_tech TALLOW_NETSDK_SEARCH_SCOPE=loopback TALLOW_NETSDK_SEARCH_PORT="$search" tallowctl search --json \
    >"$out/tallowctl.json" 2>"$run/tallowctl.err" || { cat "$run/tallowctl.err"; bad "tallowctl search"; }
  head -c 2000 "$out/tallowctl.json"; echo
  found=$(grep -oE "\"$prefix\\.[0-9]+\"" "$out/tallowctl.json" | tr -d '"' | sort -u)
  [ "$found" = "$expected" ] || bad "tallowctl listed [$(echo $found)]"
fi

# 6. The user's own files: their settings edited, a run log and factory records of their own.
home=$m/home/tech
as_tech sh -c 'printf "[OEMID]\nAssigned=123\n" >> ~/.config/tallow/Config.ini
  mkdir -p ~/.local/share/tallow/RunLog ~/.local/share/tallow/oemidupload/unupload
  echo "2026-12-11T09:00:00.000	00:12:34:56:78:9a	Destribe	Upgrade Success" >> ~/.local/share/tallow/RunLog/2026-12-11_firmware.log
  echo "a factory record" > ~/.local/share/tallow/oemidupload/unupload/AABBCC0011222026-12-11.log'
mine() { (cd "$home" && find .config/tallow .local/share/tallow -type f -print0 | sort -z | xargs -0 sha256sum); }
mine >"$run/before"
echo "--- the user's files"
cat "$run/before"

# 7. A newer package with other shipped defaults: the user's Config.ini and records stay as they were.
mkdir "$run/newer"
dpkg-deb -R "$deb" "$run/newer/tree"
sed -i 's/^Version: .*/&.1/' "$run/newer/tree/DEBIAN/control"
printf '; defaults of the newer package\n' >>"$run/newer/tree/usr/share/tallow/Config.ini"
(cd "$run/newer/tree" && find usr -type f -print0 | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
dpkg-deb --root-owner-group -b "$run/newer/tree" "$m/tmp/tallow-newer.deb" >/dev/null
in_root apt-get install -y -q --no-install-recommends /tmp/tallow-newer.deb >"$run/apt2.log" 2>&1 ||
  { cat "$run/apt2.log"; bad "upgrade"; }
echo "upgraded: $(in_root dpkg-query -W -f='${Version}' tallow)"
grep -q '^; defaults of the newer package$' "$m/usr/share/tallow/Config.ini" || bad "the upgrade did not replace the shipped defaults"
as_tech tallowctl --version >/dev/null
mine >"$run/after-upgrade"
diff "$run/before" "$run/after-upgrade" || bad "the upgrade changed the user's files"

# 8. Remove (and purge) the package: it is gone, the user's files are not.
in_root apt-get purge -y -q tallow >"$run/apt3.log" 2>&1 || { cat "$run/apt3.log"; bad "purge"; }
[ ! -e "$m/usr/bin/Tallow" ] && [ ! -e "$m/usr/share/tallow" ] || bad "files left after purge"
mine >"$run/after-purge"
diff "$run/before" "$run/after-purge" || bad "removing the package changed the user's files"
echo "after purge: $(wc -l <"$run/after-purge") files of the user's kept"
exit $fail
