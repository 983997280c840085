#!/usr/bin/env bash
# Times Orvella's whole-image save, export of all partitions, blank check, load, digests,
# comparison, the hex view's search, the NAND check, the extraction of a FAT16 volume's
# files (against mcopy -s) and report on a sample image of 1 GiB of main data against cp, dd, cat,
# sha256sum and cmp measured in the same run, the conversion of a 528 MiB page dump to a
# full image against cp of it, the report of a 3.9 GiB image in headless
# Chromium against an empty page, a partition as the phone reads it (through the
# bad-block layer, and an STL volume rebuilt) against export and cat, and peak memory
# against the tool at rest. Prints one table; exits 1 when a target is missed.
# ORVELLA_BENCH_RUNS sets the runs per timing (default 7); ORVELLA_BENCH_BUILD the build
# folder (default build-bench).
#
# Each timing is taken as wall time and as CPU time (user + system of the command and
# its children). The table shows the medians of both; the ratio that is checked is the
# one of the CPU medians, because on a shared machine the wall time mostly measures
# the neighbours; rows marked "wall" check the wall medians instead: the digests run
# on two threads, so their CPU time is not what the user waits for. Orvella and its
# baseline always run back to back.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
./scripts/install-deps.sh

build=${ORVELLA_BENCH_BUILD:-$root/build-bench}
out=$root/bench/out
runs=${ORVELLA_BENCH_RUNS:-7}
BS=262144

echo "Building (Release) in $build ..." >&2
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELLA_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target orvella_cli orvella_bench_helper >/dev/null
orv=$build/bin/orvella
helper=$build/bin/orvella_bench_helper

mkdir -p "$out"
cd "$out"

names=(BOOT PIT CSC EFS SBL PARAM KERNEL FACTORYFS DBDATA CACHE DATA)
sizes=(2 1 6 8 4 8 30 1200 400 200 rest)
table=""
for i in "${!names[@]}"; do table+="${table:+,}${names[$i]}:${sizes[$i]}"; done

# The same eleven partitions sized to fit the 256 blocks of a 64 MiB chip, so that the
# small image's load reads a table as long as the big one's.
small_sizes=(2 1 6 8 4 8 30 100 50 20 rest)
small_table=""
for i in "${!names[@]}"; do small_table+="${small_table:+,}${names[$i]}:${small_sizes[$i]}"; done

# Samples are kept between runs; each is made under a temporary name first, and a
# note beside it says what made it. A sample made by the helper, or with another
# table, is made again.
make_sample() {  # FILE CHIP_MIB FILL [TABLE]
  local t=${4:-$table}
  [ -f "$1" ] && [ -f "$1.made-by" ] && [ "$(cat "$1.made-by")" = "orvella mkimage --table $t" ] && return 0
  echo "Making $1 ($2 MiB of main data, fill $3) ..." >&2
  if "$orv" mkimage "$1.part" --chip-mib "$2" --table "$t" --fill "$3" --force >/dev/null 2>&1; then
    echo "orvella mkimage --table $t" > "$1.made-by"
  else
    "$helper" mkimage "$1.part" "$2" "$t" "$3"
    echo "the bench helper (orvella mkimage failed or is not built yet)" > "$1.made-by"
  fi
  mv "$1.part" "$1"
}
make_sample sample.bin 1024 pattern
make_sample blank.bin 1024 ff
make_sample small.bin 64 zero "$small_table"
make_sample big.bin 3904 zero
made_by=$(cat sample.bin.made-by)
# A dump with codes in its spare data and 1 GiB of written main data, for the check.
if [ ! -f ecc.bin ] || [ ! -f ecc.bin.made-by ]; then
  echo "Making ecc.bin (1 GiB of noise with onenand-h512-normal codes) ..." >&2
  "$orv" mkimage ecc.bin.part --chip-mib 1024 --table "$table" --fill noise --ecc onenand-h512-normal --force >/dev/null
  echo "orvella mkimage --fill noise --ecc onenand-h512-normal" > ecc.bin.made-by
  mv ecc.bin.part ecc.bin
fi
# A 528 MiB dump as a chip reader writes it: each page followed by its spare bytes, with
# codes in them (512 MiB of noise with onenand-h512-normal codes, converted).
if [ ! -f page.bin ] || [ ! -f page.bin.made-by ]; then
  echo "Making page.bin (a 512 MiB chip with codes, each page followed by its spare data) ..." >&2
  "$orv" mkimage page-full.bin.part --chip-mib 512 --table "$table" --fill noise --ecc onenand-h512-normal --force >/dev/null
  "$orv" convert page-full.bin.part page.bin.part --from full --to page --force >/dev/null
  rm -f page-full.bin.part
  echo "orvella mkimage --fill noise --ecc onenand-h512-normal, orvella convert --to page" > page.bin.made-by
  mv page.bin.part page.bin
fi
# A copy of the big image that differs in every other block, so that the report's map
# of 15616 blocks alternates between two states: near the most cells a loadable image
# gives the map (15884 at 3971 MiB).
if [ ! -f big-b.bin ] || [ ! -f big-b.bin.made-by ]; then
  echo "Making big-b.bin (big.bin, every other block changed) ..." >&2
  cp --sparse=always big.bin big-b.bin.part
  perl -e 'open(my $f, "+<", $ARGV[0]) or die "$ARGV[0]: $!"; binmode $f;
           for (my $b = 1; $b < $ARGV[1]; $b += 2) { seek($f, $b * 262144, 0); print $f "\x01"; }
           close($f) or die "$ARGV[0]: $!"' big-b.bin.part $(( $(stat -c %s big.bin) / 528 * 512 / BS ))
  echo "cp --sparse=always and perl" > big-b.bin.made-by
  mv big-b.bin.part big-b.bin
fi

if "$orv" list small.bin >/dev/null 2>&1; then
  loader=("$orv" list)
else
  loader=("$helper" load)
fi

echo "Warming the page cache ..." >&2
cat sample.bin blank.bin small.bin page.bin > /dev/null
"${loader[@]}" big.bin > /dev/null

measure() {  # runs "$@" with output discarded; prints "WALL CPU" in seconds
  # `times` must run in this shell, not in a pipeline's subshell, to see the children.
  local t0 t1 c0 c1
  times > "$out/.times"
  c0=$(tail -1 "$out/.times")
  t0=$EPOCHREALTIME
  "$@" > /dev/null
  t1=$EPOCHREALTIME
  times > "$out/.times"
  c1=$(tail -1 "$out/.times")
  awk -v a="$t0" -v b="$t1" -v c0="$c0" -v c1="$c1" '
    function secs(t,   m) { m = t; sub(/m.*/, "", m); sub(/^[0-9]+m/, "", t); sub(/s$/, "", t); return m * 60 + t }
    BEGIN { split(c0, x, " "); split(c1, y, " ")
            printf "%.4f %.4f\n", b - a, secs(y[1]) + secs(y[2]) - secs(x[1]) - secs(x[2]) }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.4f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

image_size=$(stat -c %s sample.bin)
total_blocks=$(( image_size / 528 * 512 / BS ))
main_bytes=$(( total_blocks * BS ))

dd_partitions() {  # the bytes `export --mode full --all` writes, copied by dd
  local base=0 blocks m l s f i
  for i in "${!names[@]}"; do
    blocks=${sizes[$i]}
    [ "$blocks" = rest ] && blocks=$(( total_blocks - base ))
    m=$(( base * BS )); l=$(( blocks * BS )); s=$(( main_bytes + m / 32 ))
    f=dd-parts/p$(printf %012X "$m")_${names[$i]}.bin
    dd if=sample.bin of="$f" bs=256K iflag=skip_bytes,count_bytes skip=$m count=$l status=none
    dd if=sample.bin of="$f" bs=256K iflag=skip_bytes,count_bytes skip=$s count=$(( l / 32 )) \
       oflag=append conv=notrunc status=none
    base=$(( base + blocks ))
  done
}

clean() { rm -rf copy.bin dd-copy.bin cp-copy.bin parts dd-parts conv.bin cp-page.bin conv.page; mkdir -p parts dd-parts; }

# The copies must be the same bytes before their times mean anything.
clean
"$orv" save-image sample.bin copy.bin > /dev/null
dd if=sample.bin of=dd-copy.bin bs=256K status=none
cmp -s copy.bin dd-copy.bin || { echo "save-image and dd differ" >&2; exit 1; }
[ "$("$orv" hash sample.bin | awk '$3 == "file" { print $1 }')" = "$(sha256sum < sample.bin | cut -d' ' -f1)" ] ||
  { echo "hash and sha256sum differ" >&2; exit 1; }
"$orv" export sample.bin --mode full --all --prefix parts/p > /dev/null
dd_partitions
diff -rq parts dd-parts >/dev/null || { echo "export and dd differ" >&2; exit 1; }
# The conversion finds the format itself and is exact: converted back, it gives the dump.
# (What it says is kept whole before it is searched: grep -q would leave the pipe as soon
# as it matched, and convert's next line would then end it with SIGPIPE.)
said=$("$orv" convert page.bin conv.bin 2>&1 >/dev/null)
grep -q 'the dump is in page format' <<< "$said" || { echo "convert does not find page.bin's format" >&2; exit 1; }
"$orv" convert conv.bin conv.page --from full --to page > /dev/null
cmp -s page.bin conv.page || { echo "page.bin converted to full and back differs" >&2; exit 1; }

echo "Timing ($runs runs each) ..." >&2
clean
sync
declare -A times=()
record() {  # KEY COMMAND...: appends "WALL CPU" of one run to times[KEY]
  local key=$1; shift
  times[$key]+="$(measure "$@")"$'\n'
}
for ((r = 0; r < runs; r++)); do
  clean; record save_o "$orv" save-image sample.bin copy.bin
  clean; record save_cp cp sample.bin cp-copy.bin
  clean; record save_b dd if=sample.bin of=dd-copy.bin bs=256K status=none
  clean; record exp_o "$orv" export sample.bin --mode full --all --prefix parts/p
  clean; record exp_b dd_partitions
  clean; record conv_o "$orv" convert page.bin conv.bin
  clean; record conv_cp cp page.bin cp-page.bin
done
# Reads apart from the copies, so that their write-back does not run meanwhile.
clean
sync
for ((r = 0; r < runs; r++)); do
  record blank_o "$orv" blank blank.bin
  record blank_b cat blank.bin
done
# The check reads on a second thread while it checks, so its wall time is what counts.
said=$("$orv" check ecc.bin --json)
grep -q '"name":"onenand-h512-normal"' <<< "$said" || { echo "the check does not find the layout of ecc.bin" >&2; exit 1; }
cat ecc.bin > /dev/null
for ((r = 0; r < runs; r++)); do
  record check_o "$orv" check ecc.bin
  record check_b cat ecc.bin
done
for ((r = 0; r < 3 * runs; r++)); do
  record load_big "${loader[@]}" big.bin
  record load_small "${loader[@]}" small.bin
done
# The comparison needs a second file with the same bytes (cmp takes a file compared with
# itself as equal at once).
cp sample.bin sample-copy.bin
cat sample-copy.bin > /dev/null
for ((r = 0; r < runs; r++)); do
  record hash_o "$orv" hash sample.bin --algo md5,sha1,sha256
  record hash_b sha256sum sample.bin
  record diff_o "$orv" diff sample.bin sample-copy.bin
  record diff_b cmp sample.bin sample-copy.bin
done
# The hex view's search: a pattern in the last bytes of a 256 MiB partition (DATA, blocks
# 2 to 1025), found from its first byte, against grep -c and cat of the same bytes.
if [ ! -f find.bin ] || [ ! -f find.bin.made-by ] || [ ! -f find-data.bin ]; then
  echo "Making find.bin (a 256 MiB partition with a pattern at its end) ..." >&2
  "$orv" mkimage find.bin.part --chip-mib 272 --table BOOT:2,DATA:1024,REST:rest --fill pattern --force >/dev/null
  printf 'ORVFIND!' | dd of=find.bin.part bs=1 seek=$(( 1026 * BS - 8 )) conv=notrunc status=none
  dd if=find.bin.part of=find-data.bin bs=256K skip=2 count=1024 status=none
  echo "orvella mkimage, dd" > find.bin.made-by
  mv find.bin.part find.bin
fi
find_hex=$(printf 'ORVFIND!' | od -An -tx1 | tr -d ' \n')
[ "$("$helper" find find.bin DATA "$find_hex")" = "$(printf %x $(( 1024 * BS - 8 )))" ] ||
  { echo "the hex view's search did not find the pattern at the partition's end" >&2; exit 1; }
[ "$(grep -c -a -F 'ORVFIND!' find-data.bin)" = 1 ] || { echo "grep does not find the pattern once" >&2; exit 1; }
cat find.bin find-data.bin > /dev/null
for ((r = 0; r < runs; r++)); do
  record find_o "$helper" find find.bin DATA "$find_hex"
  record find_g grep -c -a -F 'ORVFIND!' find-data.bin
  record find_c cat find-data.bin
done
cat big.bin big-b.bin > /dev/null
for ((r = 0; r < 3; r++)); do
  record report_o "$orv" report big.bin --compare big-b.bin -o big-report.html --force
  record report_b "$orv" diff big.bin big-b.bin
done
grep -q 'class="different"' big-report.html || { echo "the big report shows no differences" >&2; exit 1; }
# Rendering: the whole page in one tall window, against an empty page.
if command -v chromium >/dev/null; then
  printf '<!DOCTYPE html><html><body></body></html>\n' > empty.html
  render() {  # PAGE: renders it headless to PAGE.png
    rm -rf "$out/chromium-profile" "$1.png"
    chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
      --disable-background-networking --disable-component-update --disable-sync \
      --hide-scrollbars --force-device-scale-factor=1 --user-data-dir="$out/chromium-profile" \
      --window-size=1100,5200 --screenshot="$1.png" "file://$out/$1" >/dev/null 2>&1
    [ -s "$1.png" ]
  }
  render big-report.html || { echo "chromium cannot render the report" >&2; exit 1; }
  for ((r = 0; r < 3; r++)); do
    record render_o render big-report.html
    record render_b render empty.html
  done
fi

# The phone's view: a 512 MiB dump with the bad-block layer whose 300 MiB partition RAW
# has two blocks replaced from the reservoir, read as the phone's bmlN reads it against
# export --mode main of the same partition; and one whose STL partition SYS holds a
# 286 MiB volume (1180 units), rebuilt as the phone's stlN reads it against cat of the
# partition's main and spare bytes.
if [ ! -f phone-raw.bin ] || [ ! -f phone-raw.bin.made-by ]; then
  echo "Making phone-raw.bin (512 MiB with the bad-block layer, a 300 MiB partition) ..." >&2
  "$orv" mkimage phone-raw.bin.part --chip-mib 512 --bml --fill noise --table BOOT:1,PIT:1,RAW:1200,DATA:rest \
    --remap 500,1000 --force >/dev/null
  echo "orvella mkimage --bml" > phone-raw.bin.made-by
  mv phone-raw.bin.part phone-raw.bin
fi
volume_bytes=$(( 1144 * BS ))
if [ ! -f phone-stl.bin ] || [ ! -f phone-stl.bin.made-by ] || [ ! -f phone-stl.content ]; then
  echo "Making phone-stl.bin (512 MiB, a 286 MiB STL volume) ..." >&2
  head -c "$volume_bytes" /dev/urandom > phone-stl.content
  "$orv" mkimage phone-stl.bin.part --chip-mib 512 --bml --fill noise --table BOOT:1,PIT:1,SYS:1180,DATA:rest \
    --remap 300,900 --stl SYS=phone-stl.content --force >/dev/null
  echo "orvella mkimage --bml --stl" > phone-stl.bin.made-by
  mv phone-stl.bin.part phone-stl.bin
fi
rm -rf phone-parts && mkdir phone-parts
"$orv" export phone-raw.bin --mode main --row RAW --prefix phone-parts/raw > /dev/null
"$orv" volume phone-raw.bin --row RAW --layer bml -o phone-parts/raw.bml > /dev/null
# The two differ exactly in the replaced blocks (2 and 3 of RAW hold garbage in the dump).
[ "$(cmp -l phone-parts/raw*_RAW.bin phone-parts/raw.bml | awk -v bs=$BS '{ print int(($1 - 1) / bs) }' | sort -u | tr '\n' ' ')" = "498 998 " ] ||
  { echo "volume --layer bml does not differ from export exactly in the replaced blocks" >&2; exit 1; }
"$orv" volume phone-stl.bin --row SYS -o phone-parts/sys.img > /dev/null
cmp -s phone-parts/sys.img phone-stl.content || { echo "the rebuilt volume is not the bytes written" >&2; exit 1; }
"$orv" export phone-stl.bin --mode full --row SYS --prefix phone-parts/sys > /dev/null
rm -f phone-parts/sys.img phone-parts/raw.bml
cat phone-raw.bin phone-stl.bin > /dev/null
for ((r = 0; r < runs; r++)); do
  rm -f phone-parts/raw.bml phone-parts/raw*_RAW.bin
  record bmlview_o "$orv" volume phone-raw.bin --row RAW --layer bml -o phone-parts/raw.bml
  record bmlview_b "$orv" export phone-raw.bin --mode main --row RAW --prefix phone-parts/raw
  record stl_o "$orv" volume phone-stl.bin --row SYS -o /dev/null --force
  record stl_b cat phone-parts/sys*_SYS.bin
done
# Extraction of every file of a 256 MiB FAT16 volume full of files (1024 files of 4 KiB to
# 500 KiB in 16 folders, and one that fills the rest), against mcopy -s of the same. Both
# write into empty folders; the two copies must hold the same bytes first.
export MTOOLS_SKIP_CHECK=1
if [ ! -f fat16.img ] || [ ! -f fat16.img.made-by ]; then
  echo "Making fat16.img (a 256 MiB FAT16 volume full of files) ..." >&2
  rm -rf fat16-tree fat16.img.part
  for d in $(seq -w 1 16); do
    mkdir -p "fat16-tree/folder $d"
    for f in $(seq -w 1 64); do
      head -c $(( (10#$d * 64 + 10#$f) * 4877 % 512000 + 4096 )) /dev/urandom > "fat16-tree/folder $d/file $f.bin"
    done
  done
  mkfs.fat -C -F 16 -n BENCH fat16.img.part 262144 >/dev/null
  (cd fat16-tree && mcopy -s -i ../fat16.img.part * ::/)
  free=$(mdir -i fat16.img.part ::/ | awk '/bytes free/ { gsub(/[^0-9]/, "", $0); print }')
  head -c "$free" /dev/urandom > fat16-tree/filler.bin
  mcopy -i fat16.img.part fat16-tree/filler.bin ::/filler.bin
  rm -rf fat16-tree
  echo "mkfs.fat -F 16, mcopy" > fat16.img.made-by
  mv fat16.img.part fat16.img
fi
clean_x() { rm -rf x-orv x-mcopy; mkdir -p x-mcopy; }
clean_x
"$orv" extract fat16.img -o x-orv > /dev/null
mcopy -s -n -i fat16.img '::/*' x-mcopy/
diff -r x-orv x-mcopy > /dev/null || { echo "extract and mcopy -s differ" >&2; exit 1; }
cat fat16.img > /dev/null
sync
for ((r = 0; r < runs; r++)); do
  clean_x; record extract_o "$orv" extract fat16.img -o x-orv
  clean_x; record extract_b mcopy -s -n -i fat16.img '::/*' x-mcopy/
done
clean_x

peak_kib() {  # peak resident set of "$@" in KiB, from /usr/bin/time -v
  /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
}
rest_kib=$(peak_kib "$orv" --version)
clean; exp_kib=$(peak_kib "$orv" export sample.bin --mode full --all --prefix parts/p)
clean; save_kib=$(peak_kib "$orv" save-image sample.bin copy.bin)
clean; conv_kib=$(peak_kib "$orv" convert page.bin conv.bin)
blank_kib=$(peak_kib "$orv" blank blank.bin)
diff_kib=$(peak_kib "$orv" diff sample.bin sample-copy.bin)
hash_kib=$(peak_kib "$orv" hash sample.bin --algo md5,sha1,sha256)
check_kib=$(peak_kib "$orv" check ecc.bin)
bmlview_kib=$(peak_kib "$orv" volume phone-raw.bin --row RAW --layer bml -o phone-parts/raw.bml --force)
stl_kib=$(peak_kib "$orv" volume phone-stl.bin --row SYS -o /dev/null --force)
rm -rf phone-parts
clean_x; extract_kib=$(peak_kib "$orv" extract fat16.img -o x-orv); clean_x
rm -f sample-copy.bin
clean

failed=0
column_median() {  # KEY FIELD(1 wall, 2 cpu)
  awk -v f="$2" 'NF { print $f }' <<<"${times[$1]}" | median
}
row_time() {  # LABEL ORVELLA-KEY BASELINE-KEY LIMIT [wall]
  local ow oc bw bc ratio verdict on=""
  [ -n "${times[$2]:-}" ] || { printf "| %-50s | %-59s |\n" "$1" "(not measured: chromium is not installed)"; return; }
  ow=$(column_median "$2" 1); oc=$(column_median "$2" 2)
  bw=$(column_median "$3" 1); bc=$(column_median "$3" 2)
  if [ "${5:-}" = wall ]; then
    ratio=$(awk -v o="$ow" -v b="$bw" 'BEGIN { printf "%.2f", (b > 0 ? o / b : 0) }'); on=" wall"
  else
    ratio=$(awk -v o="$oc" -v b="$bc" 'BEGIN { printf "%.2f", (b > 0 ? o / b : 0) }')
  fi
  if [ "$4" = "-" ]; then
    verdict="(none)$on"
  elif awk -v r="$ratio" -v l="$4" 'BEGIN { exit !(r <= l) }'; then
    verdict="<= $4$on ok"
  else
    verdict="<= $4$on MISSED"; failed=1
  fi
  printf "| %-50s | %7.3f s %7.3f s | %7.3f s %7.3f s | %5s | %-13s |\n" \
    "$1" "$oc" "$ow" "$bc" "$bw" "$ratio" "$verdict"
}
row_memory() {  # LABEL KIB [LIMIT-KIB, default 2048]
  local above=$(( $2 - rest_kib )) limit=${3:-2048} verdict
  if (( above <= limit )); then verdict="<= +$limit ok"; else verdict="<= +$limit MISSED"; failed=1; fi
  printf "| %-50s | %17s | %17s | %5s | %-13s |\n" \
    "$1" "$2 KiB" "$rest_kib KiB" "+$above" "$verdict"
}

echo
echo "Sample: $(numfmt --to=iec-i --suffix=B "$image_size") image ($total_blocks blocks, ${#names[@]} partitions), made by $made_by."
echo "Load timed with: ${loader[*]##*/}. Medians of $runs runs (load: $((3 * runs))); load average now: $(cut -d' ' -f1-3 /proc/loadavg)."
printf "| %-50s | %-17s | %-17s | %5s | %-13s |\n" "operation / baseline" "orvella cpu  wall" "baseline cpu wall" "ratio" "target"
printf "|%s|%s|%s|%s|%s|\n" "$(printf -- '-%.0s' {1..52})" "-------------------" "-------------------" "-------" "---------------"
row_time "save whole image / cp" save_o save_cp 1.05
row_time "save whole image / dd bs=256K" save_o save_b 0.9
row_time "export all partitions, full / dd of same bytes" exp_o exp_b 1.15
row_time "convert 528 MiB dump, page to full / cp of it" conv_o conv_cp 1.5
row_time "blank check, all-0xFF image / cat IMAGE >/dev/null" blank_o blank_b 1.3
row_time "check ECC and bad blocks, 1 GiB written / cat" check_o check_b 1.5 wall
row_time "load 3.9 GiB sparse image / load 64 MiB image" load_big load_small -
row_time "hash md5,sha1,sha256 (2 threads) / sha256sum" hash_o hash_b 1.2 wall
row_time "diff of two equal images / cmp of them" diff_o diff_b -
row_time "hex view: find at the end of 256 MiB / grep -c" find_o find_g 2
row_time "hex view: find at the end of 256 MiB / cat" find_o find_c -
row_time "report 3.9 GiB vs a copy, 15616 cells / diff" report_o report_b - wall
row_time "extract all files, 256 MiB FAT16 / mcopy -s" extract_o extract_b 1
row_time "chromium renders that report / an empty page" render_o render_b - wall
row_time "volume --layer bml, 300 MiB / export --mode main" bmlview_o bmlview_b 1.1
row_time "volume, 286 MiB STL volume / cat main+spare" stl_o stl_b 2 wall
row_memory "peak RSS: export all, full / orvella at rest" "$exp_kib"
row_memory "peak RSS: save whole image / orvella at rest" "$save_kib"
row_memory "peak RSS: convert page to full / orvella at rest" "$conv_kib"
row_memory "peak RSS: blank check / orvella at rest" "$blank_kib"
row_memory "peak RSS: diff of two images / orvella at rest" "$diff_kib"
# The digest library sets up its providers once, about 3 MiB whatever the image size.
row_memory "peak RSS: hash md5,sha1,sha256 / orvella at rest" "$hash_kib" 4096
row_memory "peak RSS: check ECC and bad blocks / orvella at rest" "$check_kib" 4096
row_memory "peak RSS: volume --layer bml / orvella at rest" "$bmlview_kib"
# The rebuild keeps the volume's tables and one logical block; the target allows 16 MiB.
row_memory "peak RSS: volume, STL rebuild / orvella at rest" "$stl_kib" 16384
row_memory "peak RSS: extract all files of 256 MiB / at rest" "$extract_kib" 8192
exit $failed
