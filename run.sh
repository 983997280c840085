#!/usr/bin/env bash
# Installs what is missing, builds, and shows Orvella at work on a sample image.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build-run -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVELLA_TESTS=OFF >/dev/null
cmake --build build-run -j2
mkdir -p build-run/sample
# A 512 MiB dump laid out as an i9000 keeps it: the table in the phone's layout, the
# bad-block layer with one block of EFS and one of KERNEL replaced from the reservoir,
# and EFS an STL volume holding a small FAT file system (made with dosfstools and
# mtools where they are installed, else left empty). The raw partitions hold zeros, so
# the file is written sparsely.
sample=build-run/sample/phone-dump.bin
if [ ! -f "$sample" ]; then
  efs=build-run/sample/efs.img
  rm -f "$efs"
  if command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null; then
    mkfs.fat -C -n EFS "$efs" 6144 >/dev/null
    printf 'Radio calibration and identity of the phone.\n' > build-run/sample/readme.txt
    head -c 262144 /dev/zero | tr '\0' '\132' > build-run/sample/nv_data.bin
    MTOOLS_SKIP_CHECK=1 mmd -i "$efs" ::/.files
    MTOOLS_SKIP_CHECK=1 mcopy -i "$efs" build-run/sample/nv_data.bin ::/.files/nv_data.bin
    MTOOLS_SKIP_CHECK=1 mcopy -i "$efs" build-run/sample/readme.txt ::/readme.txt
  else
    : > "$efs"
  fi
  build-run/bin/orvella mkimage "$sample" --chip-mib 512 --bml --fill zero \
    --table IBL+PBL:1,PIT:1,EFS:40,SBL:5,SBL2:5,PARAM:20,KERNEL:30,RECOVERY:30,FACTORYFS:1146,DBDATAFS:536,CACHE:140,MODEM:rest \
    --remap 20,80 --stl EFS="$efs"
fi
build-run/bin/orvella list "$sample"
echo
echo "The same dump as the phone reads it (orvella pit):"
build-run/bin/orvella pit "$sample"
echo

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
