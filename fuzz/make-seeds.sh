#!/usr/bin/env bash
# Rebuilds the seed corpora of the fuzz targets from images made by `orvella mkimage`.
# Each seed keeps only the interesting part of an image (its table) in the target's
# input format, described at the top of fuzz/fuzz_<target>.cpp.
#
# usage: fuzz/make-seeds.sh [path/to/orvella]   (default: builds it in build-dev)
set -euo pipefail
cd "$(dirname "$0")/.."

orvella=${1:-}
if [ -z "$orvella" ]; then
  cmake -S . -B build-dev -G Ninja >/dev/null
  cmake --build build-dev -j2 --target orvella >/dev/null
  orvella=build-dev/bin/orvella
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

table_offset=$((0x40000))

# Little-endian 32-bit number as raw bytes.
le32() {
  local v=$1
  printf "\\x$(printf %02x $((v & 255)))\\x$(printf %02x $(((v >> 8) & 255)))"
  printf "\\x$(printf %02x $(((v >> 16) & 255)))\\x$(printf %02x $(((v >> 24) & 255)))"
}

# Bytes of a file from an offset, n long.
cut_bytes() { dd if="$1" bs=64K iflag=skip_bytes,count_bytes skip="$2" count="$3" status=none; }

# mkimage NAME CHIP_MIB TABLE: a sparse sample image with that table.
mkimage() {
  "$orvella" mkimage "$work/$1.bin" --chip-mib "$2" --table "$3" --fill zero --force >/dev/null
}

table_len() { echo $((48 + 132 * $1)); }

# ---- fuzz_image_load: mode byte, P, bytes at 0x40000 --------------------------------
seeds=fuzz/seeds/fuzz_image_load
rm -rf "$seeds"
mkdir -p "$seeds"

# seed NAME MODE P IMAGE ENTRIES: the image's table (ENTRIES entries) behind MODE and P.
seed() {
  local out=$seeds/$1.bin
  { printf "\\x$(printf %02x "$2")"; le32 "$3"; cut_bytes "$work/$4.bin" $table_offset "$(table_len "$5")"; } >"$out"
}
size_of() { stat -c %s "$work/$1.bin"; }

std="BOOT:1,PIT:1,EFS:20,SBL:5,SBL2:5,PARAM:20,KERNEL:30,RECOVERY:30,FACTORYFS:1146,DBDATAFS:536,CACHE:140,MODEM:50,RESERVED1:1,RESERVED2:1,RESERVED3:1,RESERVED4:0"
mkimage std 512 "$std"
seed std-whole 1 "$(size_of std)" std 16          # exactly the 512 MiB image's size
seed std-cut 3 $(( $(table_len 16) / 2 )) std 16  # file ends in the middle of entry 7
seed std-no-entries 3 48 std 16                   # file ends right after the header
seed std-small 0 0 std 16                         # file ends right after the table

mkimage tiny 2 "BOOT:1,PIT:1,REST:rest"
seed tiny 0 $(( $(size_of tiny) - table_offset - $(table_len 3) )) tiny 3

# Sizes that mean "to the end", before other entries, and sizes that wrap the sum.
mkimage ends 64 "A:0,B:rest,C:4294967295,D:4294967294,E:2,F:0"
seed ends 1 "$(size_of ends)" ends 6

# Names: exactly 32 bytes (no terminator), empty, Latin-1, a slash.
mkimage names 8 "$(printf 'ABCDEFGHIJKLMNOPQRSTUVWXYZ012345:1,:1,caf\xe9:1,a/b:1,..:rest')"
seed names 1 "$(size_of names)" names 5

# The largest table whose seed stays under 64 KiB.
many=$(for i in $(seq 1 480); do printf 'P%d:1,' "$i"; done)
mkimage many 256 "${many%,}"
seed many 1 "$(size_of many)" many 480

# Largest chip the tool makes (just under 4 GiB), and the same table on a 4 GiB file.
mkimage huge 3971 "BOOT:1,PIT:1,DATA:rest"
seed huge 1 "$(size_of huge)" huge 3
seed four-gib 2 0 huge 3

# A table whose count does not match its file: zero, huge, and a wrong magic.
{ printf '\x00'; le32 "$(size_of tiny)"; le32 $((0x12349876)); le32 0; head -c 40 /dev/zero; } \
  >"$seeds/zero-entries.bin"
{ printf '\x01'; le32 $((0xFFFFFFFF)); le32 $((0x12349876)); le32 $((0x01000000)); head -c 40 /dev/zero; } \
  >"$seeds/count-huge.bin"
{ printf '\x00'; le32 0; le32 $((0x12349877)); le32 1; cut_bytes "$work/tiny.bin" $((table_offset + 8)) 172; } \
  >"$seeds/bad-magic.bin"

# ---- fuzz_hex_window: 17-byte operations over a 1 MiB-chip pattern image ----------
seeds=fuzz/seeds/fuzz_hex_window
rm -rf "$seeds"
mkdir -p "$seeds"

le64() { le32 $(($1 & 0xFFFFFFFF)); le32 $((($1 >> 32) & 0xFFFFFFFF)); }
# op CODE A B with the address and count forms the target decodes.
op() { printf "\\x$(printf %02x "$1")"; le64 "$2"; le64 "$3"; }
attach() { op 128 "$1" "$2"; }                   # offset and length as given
load() { op 1 $(($1 + (1 << 40))) $(($2 + 1024)); }
contains() { op 2 $(($1 + (1 << 40))) $(($2 + 1024)); }
recentre() { op 3 $(($1 + (1 << 40))) 0; }
byte_at() { op 4 "$1" 0; }
cut_file() { op 5 "$1" 0; }
delete_file() { op 6 1 0; }
restore_file() { op 6 0 0; }
fail_next_read() { op 7 0 0; }

"$orvella" mkimage "$work/hex.bin" --chip-mib 1 --table BOOT:1,PIT:1,DATA:rest --fill pattern --force >/dev/null
image_size=$(stat -c %s "$work/hex.bin")
spare_start=$((image_size / 528 * 512))
mapfile -t firsts < <("$orvella" list "$work/hex.bin" --json 2>/dev/null | grep -o '"first_byte": [0-9]*' | grep -o '[0-9]*$')
mapfile -t sizes < <("$orvella" list "$work/hex.bin" --json 2>/dev/null | grep -o '"size_bytes": [0-9]*' | grep -o '[0-9]*$')
lines=$((45 * 16))  # what a view of 44 whole lines paints

# Each partition's main and spare chunk as the window gets them, scrolled through.
for k in "${!firsts[@]}"; do
  for half in main spare; do
    if [ $half = main ]; then off=${firsts[$k]}; len=${sizes[$k]}
    else off=$((spare_start + firsts[$k] / 32)); len=$((sizes[$k] / 32)); fi
    {
      attach $off $len
      load 0 $lines; byte_at 0; byte_at $((len - 1)); contains 0 $lines
      load $((len / 2)) $lines; recentre $((len / 2)); byte_at $((len / 2))
      load $((len - 16)) $lines; contains $((len - 16)) $lines; byte_at $((len - 1))
      load 0 $lines
    } >"$seeds/row$((k + 1))-$half.bin"
  done
done

# Chunks of 16, 17, 16384 and 16385 bytes ending at the file's end, and one past it.
for len in 16 17 16384 16385; do
  { attach $((image_size - len)) $len; load 0 $lines; load $((len - 1)) $lines; byte_at $((len - 1)); } \
    >"$seeds/tail-$len.bin"
done
{ attach $((image_size - 100)) 101; load 0 $lines; } >"$seeds/past-end.bin"
{ attach -1 10; attach 0 -1; op 128 $((0x7FFFFFFFFFFFFFFF)) $((0x7FFFFFFFFFFFFFFF)); load 0 16; } \
  >"$seeds/nonsense.bin"

# The file shrinks, vanishes or fails to read under a loaded window.
{ attach 0 "${sizes[0]}"; load 0 $lines; cut_file $((firsts[1] / 2)); load $((sizes[0] - 16)) $lines;
  byte_at 0; restore_file; load $((sizes[0] - 16)) $lines; } >"$seeds/shrunk.bin"
{ cut_file $((image_size - 200000)); cut_file $((image_size - 100000)); attach $((image_size - 210000)) 40000;
  load 0 $lines; load 30000 $lines; } >"$seeds/cut-then-grown.bin"
{ attach "${firsts[2]}" "${sizes[2]}"; load 0 $lines; delete_file; load 300000 $lines; byte_at 5;
  restore_file; load 300000 $lines; } >"$seeds/deleted.bin"
{ attach "${firsts[1]}" "${sizes[1]}"; load 0 $lines; fail_next_read; load 100000 $lines;
  load 100000 $lines; op 7 1 0; load 0 16; } >"$seeds/read-fails.bin"

# ---- fuzz_temp_image: flash-info, block and the table as a device returns it ---------
seeds=fuzz/seeds/fuzz_temp_image
rm -rf "$seeds"
mkdir -p "$seeds"

# The table pages and their spare bytes as the device holds them: cut from an image.
"$orvella" mkimage "$work/dev.bin" --chip-mib 4 --table "$std" --fill ff --force >/dev/null
dev_main=$((4 << 20))
device_table() {  # L bytes of main data at block 1, then L / 32 spare bytes
  cut_bytes "$work/dev.bin" $table_offset "$1"
  cut_bytes "$work/dev.bin" $((dev_main + table_offset / 32)) $(($1 / 32))
}
# tseed NAME N E P BLOCK MODE L
tseed() {
  { le32 "$2"; le32 "$3"; le32 "$4"; le32 "$5"; printf "\\x$(printf %02x "$6")"; device_table "$7"; } \
    >"$seeds/$1.bin"
}
tseed block1 4 $((0x40000)) $((0x1000)) 1 1 4096
tseed block2 4 $((0x40000)) $((0x1000)) 2 1 4096
tseed block3-small-pages 4 $((0x20000)) $((0x800)) 3 1 4096
tseed as-given 4 $((0x40000)) $((0x1000)) 1 0 4096
tseed odd-length 4 $((0x40000)) $((0x1000)) 1 0 4000
tseed smallest-chip 1 $((0x4000)) $((0x200)) 1 1 4096
tseed largest-chip 4095 $((0x40000)) $((0x1000)) 1 1 4096
tseed largest-block 4095 $((0x4000000)) $((0x1000)) 1 1 4096
tseed chip-too-small 1 $((0x80000)) $((0x1000)) 1 1 4096
tseed unrecognised 4 $((0x40000)) 0 1 1 4096
tseed page-not-512 4 $((0x40000)) 1000 1 1 4096
tseed block-far 4 $((0x40000)) $((0x1000)) $((0xFFFFFFFF)) 1 4096
# A table whose count asks for more than a block.
{ le32 4; le32 $((0x40000)); le32 $((0x1000)); le32 1; printf '\x01'; le32 $((0x12349876)); le32 $((0x7FFFFFFF)); } \
  >"$seeds/count-huge.bin"

# ---- fuzz_nand_check: layout, repair flag, size delta, records of main + spare --------
seeds=fuzz/seeds/fuzz_nand_check
rm -rf "$seeds"
mkdir -p "$seeds"
# records FILE N: the first N sectors of a dump as records of 512 + 16 bytes.
records() {
  local i
  for ((i = 0; i < $2; i++)); do
    cut_bytes "$1" $((i * 512)) 512
    cut_bytes "$1" $(((8 << 20) + i * 16)) 16
  done
}
# nseed NAME LAYOUT-INDEX FLAGS DELTA LAYOUT [FLIP-OFFSET]: records of a dump in LAYOUT,
# with one bit flipped at that offset of the records when one is given.
nseed() {
  "$orvella" mkimage "$work/n.bin" --chip-mib 8 --table A:rest --fill noise --ecc "$5" \
    --erased-percent 25 --force >/dev/null
  { printf "\\x$(printf %02x "$2")\\x$(printf %02x "$3")"; printf "\\x$(printf %02x $(($4 & 255)))\\x$(printf %02x $(($4 >> 8)))"; records "$work/n.bin" 6; } \
    >"$seeds/$1.bin"
  if [ -n "${6:-}" ]; then
    local b
    b=$(od -An -tu1 -j $(($6 + 4)) -N1 "$seeds/$1.bin" | tr -d ' ')
    printf "\\x$(printf %02x $((b ^ 0x10)))" | dd of="$seeds/$1.bin" bs=1 seek=$(($6 + 4)) conv=notrunc status=none
  fi
}
nseed h512-clean 0 0 32768 onenand-h512-normal
nseed h512-flip-repair 0 1 32768 onenand-h512-normal 100
nseed h256-smc-auto 255 1 32768 onenand-h256-smc 7
nseed smallpage-code-flip 5 1 32768 smallpage-smc 513
nseed cut-short 2 1 1000 onenand-h256-normal
nseed longer 4 0 40000 smallpage-normal

# ---- fuzz_fat: volume size, then chunks of offset, length and bytes -------------------
seeds=fuzz/seeds/fuzz_fat
rm -rf "$seeds"
mkdir -p "$seeds"
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8

le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"; }
u8at() { od -An -tu1 -j "$2" -N1 "$1" | tr -d ' '; }
u16at() { echo $(($(u8at "$1" "$2") | ($(u8at "$1" $(($2 + 1))) << 8))); }
u32at() { echo $(($(u16at "$1" "$2") | ($(u16at "$1" $(($2 + 2))) << 16))); }
# put FILE OFFSET: the bytes on standard input written over the file at that offset.
put() { dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
# chunks FILE OFFSET LENGTH: that part of a volume as chunks of at most 60 KiB.
chunks() {
  local off=$2 left=$3 n
  while ((left > 0)); do
    n=$((left < 61440 ? left : 61440))
    le32 "$off"; le16 "$n"; cut_bytes "$1" "$off" "$n"
    off=$((off + n)); left=$((left - n))
  done
}
# fseed NAME IMAGE: the volume's size; its reserved sectors, the first 4 KiB of its first
# FAT, and its root folder with the first 16 KiB of clusters.
fseed() {
  local img=$2 bps res fats root fatsz fatoff tables size
  bps=$(u16at "$img" 11); res=$(u16at "$img" 14); fats=$(u8at "$img" 16); root=$(u16at "$img" 17)
  fatsz=$(u16at "$img" 22); ((fatsz)) || fatsz=$(u32at "$img" 36)
  fatoff=$((res * bps)); tables=$((fatoff + fats * fatsz * bps))
  size=$(stat -c %s "$img")
  { le32 $((size / 1024)); chunks "$img" 0 "$fatoff"
    chunks "$img" "$fatoff" $((fatsz * bps < 4096 ? fatsz * bps : 4096))
    chunks "$img" "$tables" $(((root * 32 + bps - 1) / bps * bps + 16384)); } >"$seeds/$1.bin"
}
# fvolume NAME KIB MKFS-OPTIONS: a volume holding a small tree: long and short names, an
# empty file, a deep folder, a folder of several clusters.
fvolume() {
  local tree=$work/fat-tree
  rm -rf "$tree"; mkdir -p "$tree/Deep/er and/deeper" "$tree/Many"
  printf 'hello' >"$tree/Short.TXT"
  : >"$tree/empty.dat"
  for i in $(seq 1 200); do printf 'line %03d of a long file\n' "$i"; done >"$tree/A long file name.txt"
  printf 'bottom' >"$tree/Deep/er and/deeper/bottom.txt"
  for i in $(seq 1 30); do printf 'entry %d\n' "$i" >"$tree/Many/entry number $i.txt"; done
  rm -f "$work/$1.img"
  mkfs.fat -C -n SEEDS $3 "$work/$1.img" "$2" >/dev/null
  (cd "$tree" && mcopy -s -i "$work/$1.img" * ::/)
}
fvolume fat12 1024 "-F 12"
fvolume fat16 4096 "-F 16 -s 1"
fvolume fat32 33792 "-F 32 -s 1"
fseed fat12 "$work/fat12.img"
fseed fat16 "$work/fat16.img"
fseed fat32 "$work/fat32.img"

# The phone's additions, patched by hand into the root folder of a FAT12 volume: an
# extended entry with owner and mode after A, a symbolic link, a FIFO, extended
# attributes named in X's creation fields, the journal file.
img=$work/phone.img
rm -f "$img"
mkfs.fat -C -F 12 -n PHONE "$img" 1024 >/dev/null
printf 'journal' >"$work/j"; printf 'a' >"$work/a"; printf 'b' >"$work/b"; : >"$work/p"; printf 'x' >"$work/x"
{ le32 $((0xDFA78699)); printf '\xd7\x00'; le16 7; printf '/\0s\0y\0s\0t\0e\0m\0\0\0'; le32 0; le32 $((0x83B18ACD)); } >"$work/l"
for f in j a b l p x; do
  name=$f; [ $f = j ] && name='$RFS_LOG.LO$'
  mcopy -i "$img" "$work/$f" "::/$(echo "$name" | tr a-z A-Z)"
done
root=$((($(u16at "$img" 14) + $(u8at "$img" 16) * $(u16at "$img" 22)) * 512))
sum=0
for b in 65 32 32 32 32 32 32 32 32 32 32; do sum=$(((((sum & 1) << 7) + (sum >> 1) + b) & 255)); done
printf '\x40' | put "$img" $((root + 2 * 32 + 12))
xattr=$(u16at "$img" $((root + 3 * 32 + 26)))
{ printf '.btfs?xde*'; printf "\\x$(printf %02x $sum)\\xcf\\x00\\x00"; le16 $((0660)); le32 1001; le32 1001; le32 0; le32 0; } \
  | put "$img" $((root + 3 * 32))
printf '\xd7' | put "$img" $((root + 4 * 32 + 13))
printf '\xe8' | put "$img" $((root + 5 * 32 + 13))
{ printf '\x80\x00'; le16 "$xattr"; le16 0; } | put "$img" $((root + 6 * 32 + 12))
fseed phone "$img"

echo "Seeds written:"
for d in fuzz/seeds/*/; do
  printf '  %-40s %3d files, %s\n' "$d" "$(find "$d" -type f | wc -l)" "$(du -sh "$d" | cut -f1)"
done
