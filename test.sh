#!/usr/bin/env bash
# Builds Orvella and runs every test: a normal build with warnings as errors, then the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, then the Windows
# build's suites under Wine.
set -euo pipefail
cd "$(dirname "$0")"

./scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
jobs=2

build_and_test() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DORVELLA_WERROR=ON "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600
}

echo "== Normal build =="
build_and_test build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo

echo "== ASan + UBSan build =="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
build_and_test build-asan -DCMAKE_BUILD_TYPE=Debug -DORVELLA_SANITIZE=ON

echo "== Windows: orvella.exe cross-built, its suites under Wine, compared with the Linux tool =="
ORVELLA_LINUX_TOOL=$PWD/build-test/bin/orvella ./scripts/build-windows.sh --test

echo "== Debian package =="
./scripts/test-package.sh

if [ -x fuzz/run.sh ]; then
  echo "== Bounded fuzzing =="
  ORVELLA_FUZZ_SECONDS=${ORVELLA_FUZZ_SECONDS:-60} ./fuzz/run.sh
fi

echo "All tests passed."
