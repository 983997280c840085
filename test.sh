#!/usr/bin/env bash
# Builds Orvella and runs every test: an optimised build of everything the package holds,
# with warnings as errors, and the tool's suites on it; every suite under AddressSanitizer
# and UndefinedBehaviorSanitizer; the Windows build's suites under Wine; the Debian
# package; and a minute of fuzzing.
set -euo pipefail
cd "$(dirname "$0")"

# Each stage says how long it took, and the run its total: it must stay under half an
# hour on a fresh two-core machine.
started=$SECONDS
stage_start=$SECONDS
stage() {
  if [ -n "${stage_name:-}" ]; then echo "== $stage_name took $((SECONDS - stage_start)) s"; fi
  stage_name=$1
  stage_start=$SECONDS
  if [ -n "$1" ]; then echo "== $1 =="; fi
}

stage "Dependencies"
./scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
jobs=2

build_and_test() {
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DORVELLA_WERROR=ON "$@"
  local built=$SECONDS
  cmake --build "$dir" -j"$jobs"
  echo "== $dir built in $((SECONDS - built)) s"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 600
}

# The normal build is what the package holds: every library, the plug-in, the host and the
# tool, optimised, without debug information (a third of its compile time), with warnings
# as errors, installed where the package installs them; the package stage packs it. Of the
# suites it builds those whose largest cases only an optimised build can afford (the tool's
# suites and the STL volumes') and the layer check; the sanitised build below builds and
# runs every suite, and the Windows stage the core and tool suites again, optimised.
stage "Normal build"
build_and_test build-test -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON "-DORVELLA_TEST_FOLDERS=cli;stl;layers"

stage "ASan + UBSan build"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
build_and_test build-asan -DCMAKE_BUILD_TYPE=Debug -DORVELLA_SANITIZE=ON \
  "-DORVELLA_TEST_CODE_OPTIONS=-fno-sanitize=vptr;-g0"

stage "Windows: orvella.exe cross-built, its suites under Wine, compared with the Linux tool"
ORVELLA_LINUX_TOOL=$PWD/build-test/bin/orvella ./scripts/build-windows.sh --test

stage "Debian package"
ORVELLA_PACKAGE_BUILD=$PWD/build-test ./scripts/test-package.sh

if [ -x fuzz/run.sh ]; then
  stage "Bounded fuzzing"
  ORVELLA_FUZZ_SECONDS=${ORVELLA_FUZZ_SECONDS:-60} ./fuzz/run.sh
fi

stage ""
echo "All tests passed ($(( (SECONDS - started) / 60 )) min $(( (SECONDS - started) % 60 )) s)."
