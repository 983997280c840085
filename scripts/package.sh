#!/usr/bin/env bash
# Builds the Debian package: a Release build without tests in build-package/ (or the
# folder given as $1), then cpack. Prints the path of the .deb as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${1:-build-package}
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELLA_TESTS=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
# Only what the package holds; cpack installs without building everything else.
cmake --build "$dir" -j2 --target orvella_plugin orvella_host orvella_cli
rm -f "$dir"/orvella_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/orvella_*.deb)
echo "$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")"
