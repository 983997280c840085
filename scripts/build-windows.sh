#!/usr/bin/env bash
# Cross-builds orvella.exe for 64-bit Windows in build-windows/ and makes
# build-windows/orvella-<version>-win64.zip (the exe, README.txt, LICENSE,
# THIRD-PARTY-NOTICES). With --test it also builds the core and tool suites, runs them
# and the Windows suite through Wine, and compares orvella.exe's output with the Linux
# tool's: ORVELLA_LINUX_TOOL names it, else one is built in build-windows/linux-tool/.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

run_tests=OFF
if [ "${1:-}" = --test ]; then run_tests=ON; fi
dir=build-windows
jobs=${ORVELLA_JOBS:-2}
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

linux_tool=${ORVELLA_LINUX_TOOL:-}
if [ "$run_tests" = ON ] && [ -z "$linux_tool" ]; then
  cmake -S . -B "$dir/linux-tool" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELLA_CLI_ONLY=ON \
    -DORVELLA_TESTS=OFF -DORVELLA_WERROR=ON "${launcher[@]}"
  cmake --build "$dir/linux-tool" -j"$jobs" --target orvella_cli
  linux_tool=$PWD/$dir/linux-tool/bin/orvella
fi

cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DORVELLA_WERROR=ON -DORVELLA_TESTS="$run_tests" -DORVELLA_TEST_CODE_OPTIONS=-O1 \
  -DORVELLA_LINUX_TOOL="$linux_tool" "${launcher[@]}"
cmake --build "$dir" -j"$jobs"
rm -f "$dir"/orvella-*-win64.zip
(cd "$dir" && cpack -G ZIP >/dev/null)
zip=$(ls "$dir"/orvella-*-win64.zip)

# The zip holds what a Windows user needs and nothing that needs a DLL beside it.
listing=$(cmake -E tar tf "$zip")
for f in orvella.exe README.txt LICENSE THIRD-PARTY-NOTICES; do
  grep -q "/$f\$" <<< "$listing" || { echo "build-windows: $zip lacks $f" >&2; exit 1; }
done
dlls=$(x86_64-w64-mingw32-objdump -p "$dir/bin/orvella.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
if [ "$dlls" != "bcrypt.dll kernel32.dll msvcrt.dll shell32.dll " ]; then
  echo "build-windows: orvella.exe needs other DLLs than the system's: $dlls" >&2
  exit 1
fi

if [ "$run_tests" = ON ]; then
  export WINEPREFIX=$PWD/$dir/wineprefix WINEDEBUG=-all
  wine=$(sed -n 's/^ORVELLA_WINE:[A-Z]*=//p' "$dir/CMakeCache.txt")
  # One Wine server for the whole run, kept a minute past its last process, so that test
  # programs starting side by side never race its start-up or its exit. It refuses to
  # start (status 2) when a server of an earlier run still serves the prefix; that one
  # serves as well.
  mkdir -p "$WINEPREFIX"
  wineserver=$(dirname "$wine")/wineserver
  if [ -x "$wineserver" ]; then "$wineserver" -p60 2>/dev/null || true; fi
  "$wine" "$dir/bin/orvella.exe" --version >/dev/null 2>&1   # makes the Wine prefix once
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600
fi
echo "$zip"
