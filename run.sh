#!/usr/bin/env bash
# Installs what is missing, builds, and shows Orvella at work on a sample image.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVELLA_TESTS=OFF >/dev/null
cmake --build build-run -j2
mkdir -p build-run/sample
sample=build-run/sample/sample.bin
if [ ! -f "$sample" ]; then
  build-run/bin/orvella mkimage "$sample" --chip-mib 64 \
    --table BOOT:2,PIT:1,CSC:6,EFS:8,SBL:4,PARAM:8,KERNEL:30,FACTORYFS:120,DBDATA:40,CACHE:20,DATA:rest \
    --fill pattern
fi
build-run/bin/orvella list "$sample"

# The stand-in host opens the plug-in over the default virtual phone (made on first use
# in the work folder) with the sample image as the image to work on.
host_args=(--image "$PWD/$sample")
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build-run/bin/orvella-host "${host_args[@]}" "$@"
fi

# No display: the same host and plug-in, driven by scripts/demo.script on the offscreen
# platform. It gets the partition table from the virtual phone, reads two partitions,
# checks for blank partitions, saves the image and keeps the log.
echo "No display (DISPLAY is empty): running the demo script scripts/demo.script instead,"
echo "with orvella-host on the offscreen platform and the default virtual phone."
mkdir -p build-run/demo
rm -f build-run/demo/phone-image.bin build-run/demo/demo-log.txt
status=0
QT_QPA_PLATFORM=offscreen build-run/bin/orvella-host "${host_args[@]}" \
  --script scripts/demo.script "$@" || status=$?
if [ "$status" -ne 0 ]; then
  echo "The demo failed (orvella-host exit code $status)." >&2
  exit "$status"
fi
echo
echo "Done: got the table from the phone, read SBL and PARAM, checked for blank partitions"
echo "and saved the image as build-run/demo/phone-image.bin ($(stat -c %s build-run/demo/phone-image.bin) bytes)."
echo "The plug-in's log (build-run/demo/demo-log.txt):"
echo "----"
cat build-run/demo/demo-log.txt
