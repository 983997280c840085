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
if [ -z "${DISPLAY:-}" ]; then
  echo "No display (DISPLAY is empty): starting orvella-host under Xvfb."
  exec xvfb-run -a build-run/bin/orvella-host "${host_args[@]}" "$@"
fi
exec build-run/bin/orvella-host "${host_args[@]}" "$@"
