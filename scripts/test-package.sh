#!/usr/bin/env bash
# Builds the Debian package in a folder of its own (or in the build ORVELLA_PACKAGE_BUILD
# names, as test.sh does with its optimised test build) and tries it as a user would:
#   - unpacked into a temporary root, where the relocatable host must find the plug-in
#     in the library folder next to its bin folder;
#   - as root, installed for real with dpkg -i, run, and removed again with dpkg -r
#     (skipped when an orvella package is already installed, so it is never replaced).
# Each time: orvella --version, mkimage and list of a sample image, the desktop entry's
# command on PATH, and orvella-host started offscreen, closing by itself.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${ORVELLA_PACKAGE_BUILD:-build-package-test}
export QT_QPA_PLATFORM=offscreen
unset XDG_DATA_HOME

fail() {
  echo "test-package: FAILED: $*" >&2
  exit 1
}

work=$(mktemp -d)
installed=0
# Qt's runtime folder, so that nothing is left in /tmp.
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
cleanup() {
  if ((installed)); then dpkg_wait -r orvella >/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# dpkg, waiting while another package manager holds the lock.
dpkg_wait() {
  local out
  for _ in $(seq 90); do
    if out=$(dpkg "$@" 2>&1); then
      echo "$out"
      return 0
    fi
    grep -qi "lock" <<<"$out" || break
    sleep 2
  done
  echo "$out" >&2
  return 1
}

echo "-- building the package in $build"
deb=$(./scripts/package.sh "$build")
[ -f "$deb" ] || fail "scripts/package.sh made no .deb"
version=$(dpkg-deb -f "$deb" Version)
echo "-- $deb ($version)"

# Runs the tool and the host from folder $1 ($2: desktop entry, $3: host arguments).
try_binaries() {
  local bin=$1 desktop=$2
  shift 2
  local out
  out=$("$bin/orvella" --version)
  [ "$out" = "orvella ${version%-*}" ] || fail "orvella --version said \"$out\""

  local sample=$work/sample-$RANDOM.bin
  "$bin/orvella" mkimage "$sample" --chip-mib 4 --table BOOT:2,CSC:4,DATA:rest --fill pattern >/dev/null
  out=$("$bin/orvella" list "$sample")
  grep -q "Total quantity of listed partitions: 0x0003" <<<"$out" || fail "orvella list: $out"
  grep -qP "^3\tDATA\t" <<<"$out" || fail "orvella list shows no DATA row: $out"

  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop entry $desktop is not valid"
  fi
  local exec_cmd
  exec_cmd=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
  local found
  found=$(PATH="$bin:$PATH" command -v "$exec_cmd") || fail "Exec=$exec_cmd is not on PATH"
  [ "$found" = "$bin/orvella-host" ] || fail "Exec=$exec_cmd is $found, not $bin/orvella-host"

  [ ! -e "$bin/liborvella.so" ] || fail "a plug-in lies beside the host in $bin"
  out=$(PATH="$bin:$PATH" timeout 120 "$exec_cmd" --close-after-ms 300 "$@" 2>&1) ||
    fail "$exec_cmd $* failed: $out"
  if grep "^orvella-host:" <<<"$out" | grep -qv "making the default virtual phone"; then
    fail "$exec_cmd $*: $out"
  fi
}

echo "-- unpacked into a temporary root"
root=$work/root
dpkg-deb -x "$deb" "$root"
"$root/usr/bin/orvella" mkimage "$work/phone.nand" --chip-mib 4 --table BOOT:1,PIT:1,DATA:rest >/dev/null
try_binaries "$root/usr/bin" "$root/usr/share/applications/orvella-host.desktop" \
  --phone "$work/phone.nand"
echo "   ok: tool, desktop entry and host with the plug-in from $root/usr/lib"

if [ "$(id -u)" -ne 0 ]; then
  echo "-- not root: the real install with dpkg -i is left out"
  exit 0
fi
if dpkg-query -W -f='${Status}' orvella 2>/dev/null | grep -q "ok installed"; then
  echo "-- an orvella package is installed already: the real install is left out"
  exit 0
fi

echo "-- dpkg -i"
installed=1
dpkg_wait -i "$deb" >/dev/null || fail "dpkg -i $deb"
desktop=/usr/share/applications/orvella-host.desktop
[ -f "$desktop" ] || fail "no $desktop"
[ -f /usr/share/icons/hicolor/scalable/apps/orvella.svg ] || fail "no icon"

# The installed host must not write beside itself, even as root: the default phone
# goes to the per-user folder.
home=$work/home-root
mkdir -p "$home"
(export HOME=$home; try_binaries /usr/bin "$desktop")
[ -f "$home/.local/share/orvella/orvella-phone.nand" ] ||
  fail "the default phone is not in the per-user folder"
[ ! -e /usr/bin/orvella-phone.nand ] || fail "the host wrote into /usr/bin"
echo "   ok: installed tool and host as root, work folder $home/.local/share/orvella/"

if id nobody >/dev/null 2>&1 && command -v runuser >/dev/null; then
  chmod 755 "$work"
  home=$work/home-nobody
  mkdir -p "$home/runtime"
  chmod 700 "$home/runtime"
  chown -R nobody "$home"
  out=$(runuser -u nobody -- env HOME="$home" XDG_RUNTIME_DIR="$home/runtime" \
    timeout 120 orvella-host --close-after-ms 300 2>&1) ||
    fail "orvella-host as nobody: $out"
  [ -f "$home/.local/share/orvella/orvella-phone.nand" ] ||
    fail "as nobody, the default phone is not in the per-user folder: $out"
  echo "   ok: installed host as a normal user, work folder $home/.local/share/orvella/"
fi

echo "-- dpkg -r"
dpkg_wait -r orvella >/dev/null || fail "dpkg -r orvella"
installed=0
for f in /usr/bin/orvella /usr/bin/orvella-host "$desktop"; do
  [ ! -e "$f" ] || fail "$f is still there after dpkg -r"
done
! compgen -G "/usr/lib/*/orvella" >/dev/null || fail "the plug-in folder is still there after dpkg -r"
echo "Package test passed."
