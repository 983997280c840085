#!/usr/bin/env bash
# Builds the Debian package: a Release build without tests in build-package/ (or the
# folder given as $1), then cpack. Prints the path of the .deb on standard output; the
# build's own messages go to standard error. A folder that is configured already keeps
# its build type and tests (test.sh packs its optimised test build this way); the install
# prefix is set to the package's either way.
set -euo pipefail
project=$(cd "$(dirname "$0")/.." && pwd)
dir=$(realpath -m "${1:-$project/build-package}")
cd "$project"

fresh=()
if [ ! -f "$dir/CMakeCache.txt" ]; then fresh=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELLA_TESTS=OFF); fi
cmake -S . -B "$dir" "${fresh[@]}" -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >&2
# Only what the package holds; cpack installs without building everything else.
cmake --build "$dir" -j2 --target orvella_plugin orvella_host orvella_cli >&2
rm -f "$dir"/orvella_*.deb
(cd "$dir" && cpack -G DEB >&2)
ls "$dir"/orvella_*.deb
