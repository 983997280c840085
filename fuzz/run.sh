#!/usr/bin/env bash
# Builds every libFuzzer target (fuzz/fuzz_*.cpp) with clang in build-fuzz and runs each
# for its share of ORVELLA_FUZZ_SECONDS (default 60), two at a time. Seeds come from
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

# Targets run side by side, one per processor (ORVELLA_FUZZ_LANES, default 2), each for its
# share; their output is printed target by target once all have ended.
lanes=${ORVELLA_FUZZ_LANES:-2}
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

fuzz_one() {
  local t=$1 corpus=fuzz/corpus-$1
  mkdir -p "$corpus"
  local dirs=("$corpus")
  [ -d "fuzz/seeds/$t" ] && dirs+=("fuzz/seeds/$t")
  local opts=(-max_total_time="$per" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
              -artifact_prefix="fuzz/artifacts/$t-")
  [ -f "fuzz/$t.dict" ] && opts+=(-dict="fuzz/$t.dict")
  local status=0
  "$build/bin/$t" "${opts[@]}" "${dirs[@]}" >"$logs/$t.log" 2>&1 || status=$?
  echo "$status" >"$logs/$t.status"
}

running=0
for t in "${targets[@]}"; do
  fuzz_one "$t" &
  running=$((running + 1))
  if ((running >= lanes)); then
    wait -n || true
    running=$((running - 1))
  fi
done
wait

failed=()
for t in "${targets[@]}"; do
  echo "== $t for ${per}s"
  cat "$logs/$t.log"
  if [ "$(cat "$logs/$t.status" 2>/dev/null)" != 0 ]; then failed+=("$t"); fi
done

if ((${#failed[@]})); then
  echo "Fuzzing found faults in: ${failed[*]} (inputs in fuzz/artifacts/)"
  exit 1
fi
echo "Fuzzing found nothing."
