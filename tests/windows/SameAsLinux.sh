#!/usr/bin/env bash
# Runs every command of orvella.exe (through Wine) and of the Linux tool on the same
# images, each in a folder of its own with the same relative paths, and compares what
# they print, their exit codes and every file they write, byte for byte. The report's
# footer names the time it was made; that time is the one thing masked.
# usage: SameAsLinux.sh LINUX_TOOL WINE WINDOWS_TOOL
set -euo pipefail
linux=$1 wine=$2 exe=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/images"
cd "$work/images"
table=BOOT:2,PIT:1,EFS:5,EMPTY:0,KERNEL:4,DATA:rest
"$linux" mkimage dump.bin --chip-mib 16 --table "$table" --fill pattern >/dev/null
"$linux" mkimage erased.bin --chip-mib 16 --table "$table" --fill ff >/dev/null
"$linux" mkimage small.bin --chip-mib 8 --table BOOT:2,PIT:1,EFS:4,DATA:rest --fill pattern >/dev/null
cp dump.bin other.bin
# A main byte of EFS, a spare byte of KERNEL and the last byte of the file.
for at in $((4 * 0x40000 + 77)) $((64 * 0x40000 + 9 * 0x4000 + 3)) $((64 * 0x40000 + 64 * 0x4000 - 1)); do
  printf '\x00' | dd of=other.bin bs=1 seek="$at" conv=notrunc status=none
done
printf 'not an image' > junk.bin
# Dumps that are not whole: main data alone, and a whole one with bytes after it.
head -c $((64 * 0x40000)) dump.bin > mainonly.bin
{ cat dump.bin; printf 'trailing bytes'; } > trailing.bin

# A FAT16 volume made and filled by the tools: nested folders, long and non-ASCII names,
# an empty file, a checksum beside nv_data.bin that matches and one that does not.
export MTOOLS_SKIP_CHECK=1 LANG=C.UTF-8 LC_ALL=C.UTF-8
mkdir -p vtree/sub/deep
head -c 262144 dump.bin > vtree/nv_data.bin
md5sum vtree/nv_data.bin | cut -c1-32 | tr -d '\n' > vtree/nv_data.bin.md5
head -c 700 small.bin > vtree/other.bin
printf '0123456789abcdef0123456789abcdef' > vtree/other.bin.md5
printf 'x' > "vtree/sub/A long name with spaces.txt"
head -c 5000 erased.bin > "vtree/sub/deep/Größe.bin"
: > vtree/sub/empty.dat
mkfs.fat -C -n ORVTEST -F 16 -s 2 volume.img 8192 >/dev/null
(cd vtree && mcopy -s -m -i ../volume.img * ::/)

commands=(
  "list ../../images/dump.bin"
  "list ../../images/dump.bin --json"
  "list ../../images/missing.bin"
  "list ../../images/junk.bin"
  "export ../../images/dump.bin --mode main --all --prefix parts/main"
  "export ../../images/dump.bin --mode spare --all --prefix spare"
  "export ../../images/dump.bin --mode full --row 3 --prefix full"
  "save-image ../../images/dump.bin copy.bin"
  "save-image ../../images/dump.bin ../../images/dump.bin"
  "blank ../../images/erased.bin"
  "blank ../../images/dump.bin"
  "hash ../../images/dump.bin --algo md5,sha1,sha256"
  "hash ../../images/dump.bin --json"
  "hash ../../images/junk.bin"
  "diff ../../images/dump.bin ../../images/other.bin"
  "diff ../../images/dump.bin ../../images/other.bin --json --main-only"
  "diff ../../images/dump.bin ../../images/small.bin"
  "diff ../../images/dump.bin ../../images/dump.bin"
  "report ../../images/dump.bin -o report.html --compare ../../images/other.bin --algo md5,sha256"
  "report ../../images/erased.bin -o erased.html"
  "mkimage new.bin --chip-mib 2 --table A:1,B:rest --fill pattern"
  "frobnicate"
  "--help"
  "help export"
  "check --help"
  "lsit ../../images/dump.bin"
  "list ../../images/dump.bin --jsn"
  "export ../../images/dump.bin --mode=full --row=efs --prefix=named"
  "export ../../images/dump.bin --mode main --row NONE --prefix x"
  "save-image ../../images/dump.bin ../../images/other.bin"
  "save-image ../../images/dump.bin ../../images/./dump.bin --force"
  "report ../../images/dump.bin -o ../../images/erased.bin"
  "mkimage past.bin --chip-mib 2 --table EFS:4000,DATA:rest"
  "list ../../images/mainonly.bin"
  "hash ../../images/trailing.bin --json"
  "export ../../images/mainonly.bin --mode spare --all --prefix x"
  "diff ../../images/dump.bin ../../images/trailing.bin --json"
  "files ../../images/volume.img"
  "files ../../images/volume.img --json"
  "extract ../../images/volume.img -o x-all"
  "extract ../../images/volume.img /SUB/deep /nv_data.bin /missing -o x-some"
  "files ../../images/dump.bin"
  "files ../../images/dump.bin --row EFS --json"
)
if "$linux" --help 2>&1 | grep -q '^  pit '; then
  # The phone's view: a 512 MiB dump with the bad-block layer, remaps in two partitions
  # (one under the STL volume's root block) and an EFS volume rewritten through its logs,
  # written sparsely; and one whose EFS root page is damaged, so the volume is refused.
  head -c 3000000 dump.bin > efs-content.bin
  phone_table=IBL+PBL:1,PIT:1,EFS:40,SBL:5,PARAM:20,KERNEL:30,FACTORYFS:1146,DATA:rest
  "$linux" mkimage phone.bin --chip-mib 512 --bml --fill zero --table "$phone_table" --remap 2,80 \
    --stl EFS=efs-content.bin --stl-rewrites 40:3 >/dev/null
  cp --sparse=always phone.bin refused.bin
  printf '\x5a' | dd of=refused.bin bs=1 seek=$((2004 * 0x40000 + 100)) conv=notrunc status=none
  commands+=("pit ../../images/phone.bin" "pit ../../images/phone.bin --json" "pit ../../images/dump.bin"
             "pit ../../images/junk.bin"
             "bml ../../images/phone.bin" "bml ../../images/phone.bin --json" "bml ../../images/dump.bin --json"
             "volume ../../images/phone.bin --row EFS -o efs.img" "volume ../../images/phone.bin --row 3 --layer bml -o efs.bml"
             "volume ../../images/phone.bin --row kernel -o kernel.bin" "volume ../../images/refused.bin --row EFS -o efs.img"
             "volume ../../images/dump.bin --row EFS -o efs.bin" "volume ../../images/phone.bin --row EFS -o ../../images/phone.bin --force"
             "stl ../../images/phone.bin --row EFS" "stl ../../images/phone.bin --row EFS --json"
             "stl ../../images/refused.bin --row 3 --json" "stl ../../images/phone.bin --row KERNEL"
             "mkimage small-phone.bin --chip-mib 512 --bml --fill zero --table A:2,EFS:40,B:rest --stl EFS=../../images/efs-content.bin --stl-header new:25,0,1"
             "mkimage bad.bin --chip-mib 512 --bml --table A:2,B:rest --remap 2004")
fi
if "$linux" --help 2>&1 | grep -q '^  check '; then
  # A dump with codes, a bad block, and one fault of each kind: one data bit (sector
  # 1000), two in one half (sector 2000), one code bit (sector 4000).
  "$linux" mkimage ecc.bin --chip-mib 8 --table BOOT:2,DATA:rest --fill noise --ecc onenand-h256-smc \
    --erased-percent 20 --bad-blocks 5 >/dev/null
  flip() {  # OFFSET MASK
    local b
    b=$(od -An -tu1 -j "$1" -N1 ecc.bin | tr -d ' ')
    printf "\\x$(printf %02x $((b ^ $2)))" | dd of=ecc.bin bs=1 seek="$1" conv=notrunc status=none
  }
  flip $((1000 * 512 + 3)) 16
  flip $((2000 * 512 + 9)) 1
  flip $((2000 * 512 + 10)) 1
  flip $(((8 << 20) + 4000 * 16 + 12)) 8
  commands+=("check ../../images/dump.bin" "check ../../images/erased.bin --json"
             "check ../../images/ecc.bin" "check ../../images/ecc.bin --json --repair fixed.bin"
             "check ../../images/ecc.bin --layout smallpage-normal" "check ../../images/junk.bin"
             "check ../../images/ecc.bin --repair ../../images/ecc.bin" "check --layout")
  [ -f phone.bin ] && commands+=("check ../../images/phone.bin" "check ../../images/phone.bin --json")
fi

if "$linux" --help 2>&1 | grep -q '^  convert '; then
  # A dump with codes and a bad block in the other tools' formats, made by the Linux tool,
  # and a page dump cut short.
  "$linux" mkimage fmt.bin --chip-mib 4 --table BOOT:2,DATA:rest --fill noise --ecc onenand-h512-normal \
    --bad-blocks 3 >/dev/null
  for f in page sector main; do "$linux" convert fmt.bin "fmt.$f" --from full --to "$f" >/dev/null 2>&1; done
  "$linux" convert fmt.bin fmt.split --from full --to split --spare fmt.spare >/dev/null 2>&1
  head -c 100000 fmt.page > cut.page
  commands+=(
    "convert ../../images/fmt.bin out.page --to page"
    "convert ../../images/fmt.bin out.sector --from full --to sector"
    "convert ../../images/fmt.bin out.split --to split --spare out.spare"
    "convert ../../images/fmt.bin out.main --to main"
    "convert ../../images/fmt.page back.bin"
    "convert ../../images/fmt.sector back.bin --from sector"
    "convert ../../images/fmt.split back.bin --spare ../../images/fmt.spare"
    "convert ../../images/fmt.main back.bin --from main"
    "convert ../../images/fmt.split out.split --spare ../../images/fmt.spare --spare out.spare --to split"
    "convert ../../images/dump.bin out.page --to page"
    "convert ../../images/cut.page back.bin"
    "convert ../../images/fmt.page ../../images/./fmt.page --from page --force"
    "convert ../../images/fmt.page out.bin --to pages"
    "list ../../images/fmt.page"
    "list ../../images/fmt.sector --format sector --json"
    "list ../../images/fmt.split --spare ../../images/fmt.spare"
    "list ../../images/fmt.main --format main"
    "check ../../images/fmt.page"
    "check ../../images/fmt.sector --format sector --json"
    "check ../../images/fmt.split --spare ../../images/fmt.spare"
    "check ../../images/fmt.page --format page --repair fixed.page"
    "check ../../images/cut.page --format page"
    "hash ../../images/fmt.page"
  )
fi

run() {  # run SIDE N COMMAND...: the output of command N of that side in its own folder
  local side=$1 n=$2; shift 2
  local out="$work/$side/$n"
  mkdir -p "$out/parts"
  local rc=0
  if [ "$side" = linux ]; then
    (cd "$out" && "$linux" "$@" >.stdout 2>.stderr) || rc=$?
  else
    (cd "$out" && "$wine" "$exe" "$@" >.stdout 2>.stderr) || rc=$?
  fi
  echo "$rc" > "$out/.status"
  # What extract made carries the times of the volume's entries.
  if [ "$1" = extract ]; then
    (cd "$out" && find . -mindepth 2 -path './x-*' -printf '%P %T@\n' | sort) > "$out/.times"
  fi
  for html in "$out"/*.html; do
    [ -e "$html" ] && sed -i -E 's/ on [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} UTC\./ on (time)./' "$html"
  done
  return 0
}

failed=0
for n in "${!commands[@]}"; do
  read -r -a words <<< "${commands[$n]}"
  run linux "$n" "${words[@]}"
  run windows "$n" "${words[@]}"
  if diff -r "$work/linux/$n" "$work/windows/$n" > "$work/difference"; then
    echo "same: orvella ${commands[$n]} (exit $(cat "$work/linux/$n/.status"), $(find "$work/linux/$n" -type f | wc -l) files)"
  else
    echo "DIFFERENT: orvella ${commands[$n]}"
    head -40 "$work/difference"
    failed=1
  fi
done
# The runs must have done something: a listing, a digest and written files.
grep -q 'DATA' "$work/linux/0/.stdout"
grep -q 'sha256' "$work/linux/11/.stdout"
cmp -s "$work/linux/7/copy.bin" "$work/images/dump.bin"
# The extracted tree is the volume's; converted back, every format that keeps spare data
# gives the image again.
for n in "${!commands[@]}"; do
  if [ "${commands[$n]}" = "extract ../../images/volume.img -o x-all" ]; then
    diff -r "$work/linux/$n/x-all" "$work/images/vtree" >/dev/null
    grep -q '^x-all/nv_data.bin ' "$work/linux/$n/.times"
  fi
  case "${commands[$n]}" in
    "convert ../../images/fmt.page back.bin"* | "convert ../../images/fmt.sector back.bin"* | \
    "convert ../../images/fmt.split back.bin"*)
      cmp -s "$work/linux/$n/back.bin" "$work/images/fmt.bin" || { echo "not exact: ${commands[$n]}"; failed=1; } ;;
  esac
done
exit $failed
