#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz/fuzz_*.cpp) with clang in build-fuzz and runs each
# for its share of ORVELLA_FUZZ_SECONDS (default 60). Seeds come from
# fuzz/seeds/<target>/, new inputs go to fuzz/corpus-<target>/, crash inputs to
# fuzz/artifacts/. Exits non-zero when any target reports a crash, leak or sanitizer
# finding.
set -euo pipefail
cd "$(dirname "$0")/.."

total=${ORVELLA_FUZZ_SECONDS:-60}
build=build-fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"

mapfile -t targets < <(find fuzz -maxdepth 1 -name 'fuzz_*.cpp' -printf '%f\n' | sed 's/\.cpp$//' | sort)
if ((${#targets[@]} == 0)); then
  echo "No fuzz targets."
  exit 0
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$flags" \
  -DORVELLA_FUZZ=ON -DORVELLA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target "${targets[@]}"

per=$((total / ${#targets[@]}))
((per >= 1)) || per=1

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp
mkdir -p fuzz/artifacts

failed=()
for t in "${targets[@]}"; do
  corpus=fuzz/corpus-$t
  mkdir -p "$corpus"
  dirs=("$corpus")
  [ -d "fuzz/seeds/$t" ] && dirs+=("fuzz/seeds/$t")
  opts=(-max_total_time="$per" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="fuzz/artifacts/$t-")
  [ -f "fuzz/$t.dict" ] && opts+=(-dict="fuzz/$t.dict")
  echo "== $t for ${per}s"
  if ! "$build/bin/$t" "${opts[@]}" "${dirs[@]}"; then
    failed+=("$t")
  fi
done

if ((${#failed[@]})); then
  echo "Fuzzing found faults in: ${failed[*]} (inputs in fuzz/artifacts/)"
  exit 1
fi
echo "Fuzzing found nothing."
