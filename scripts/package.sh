#!/usr/bin/env bash
# Builds the Debian package: a Release build without tests in build-package/ (or the
# folder given as $1), then cpack. Prints the path of the .deb on standard output; the
# build's own messages go to standard error.
set -euo pipefail
project=$(cd "$(dirname "$0")/.." && pwd)
dir=$(realpath -m "${1:-$project/build-package}")
cd "$project"

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELLA_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >&2
# Only what the package holds; cpack installs without building everything else.
cmake --build "$dir" -j2 --target orvella_plugin orvella_host orvella_cli >&2
rm -f "$dir"/orvella_*.deb
(cd "$dir" && cpack -G DEB >&2)
ls "$dir"/orvella_*.deb
