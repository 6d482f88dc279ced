#!/usr/bin/env bash
# Counts the instructions the library executes on the A4 600 dpi pages of
# bench/bench_pages.h, under valgrind's callgrind, with collection switched
# on only inside the measured functions (--toggle-collect). Counts do not
# depend on machine load, so they compare builds before and after a change.
# Printed, one line each (instructions = callgrind's Ir event):
#   blank line, mode 1     per OutputProduceTwo + OutputComplete pair, a page
#                          of blank 620-byte lines handed over with their data
#                          (collected in those two calls only)
#   blank line, mode 9     the same for blank mode 9 lines: C, M, Y at 4 bits
#                          (2,481 bytes each) and K at 1 bit (621 bytes)
#   text page, mode 1      per input byte, the 1-bit K text page (621-byte
#                          lines) through every job call, page end included
#                          (collected in the exported Output... job calls)
#   photo page, mode 9     per drawn level (non-zero 4-bit pixel handed over),
#                          the top LINES lines of the photo page, C, M, Y
#                          levels and no K data, through every job call
#                          (collected in the exported Output... job calls)
#   packbits text|photo|random
#                          per input byte, packbits on every row of the page
#                          (collected in packbits)
# With -v, the functions that took the most instructions (self cost) follow
# each job figure.
#
# Usage: bench/callgrind_counts.sh [options] [BUILD_DIR]
#   BUILD_DIR   native tree to build count_driver in (default build/native)
#   -l LINES    photo page lines (default 1024; 7016 is the whole page and
#               takes minutes under callgrind)
#   -v          show where the instructions go
#   -k DIR      keep the callgrind output files in DIR
# i386: counts need a kernel that runs 32-bit programs (callgrind cannot
# instrument a program running under qemu-i386); elsewhere they are skipped
# with a message. The i386 driver is build/i386/bench/count_driver when that
# tree builds bench/, else compiled here from build/i386's static library.
# Needs valgrind. Run by hand; it is not part of ctest.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
photo_lines=1024
verbose=0
keep=

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit "${1:-2}"; }

while getopts "l:vk:h" opt; do
  case $opt in
    l) photo_lines=$OPTARG ;;
    v) verbose=1 ;;
    k) keep=$OPTARG ;;
    h) usage 0 ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -le 1 ] || usage
build=${1:-$top/build/native}

die() { echo "callgrind_counts: $*" >&2; exit 1; }
if ! [[ $photo_lines =~ ^[1-9][0-9]*$ ]] || [ "$photo_lines" -gt 7016 ]; then die "-l wants 1..7016 lines"; fi
command -v valgrind >/dev/null || die "no valgrind (Debian package valgrind)"

if [ -n "$keep" ]; then
  mkdir -p "$keep"
  work=$(cd "$keep" && pwd)
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

# The native driver: built in the given tree.
if [ "$build" = "$top/build/native" ]; then
  "$top/scripts/build.sh" native --target count_driver >/dev/null
else
  cmake --build "$build" --target count_driver >/dev/null
fi
native_driver=$build/bench/count_driver
[ -x "$native_driver" ] || die "no $native_driver"

# Runs the driver under callgrind; prints "instructions units".
count() {  # count DRIVER TAG TOGGLE... -- ARGS...
  local driver=$1 tag=$2
  shift 2
  local toggles=()
  while [ "$1" != "--" ]; do toggles+=("--toggle-collect=$1"); shift; done
  shift
  local out=$work/callgrind.$tag units
  units=$(valgrind --tool=callgrind --callgrind-out-file="$out" --collect-atstart=no "${toggles[@]}" \
            "$driver" "$@" 2>"$work/valgrind.$tag.log") || { cat "$work/valgrind.$tag.log" >&2; die "$tag failed"; }
  local ir
  ir=$(sed -n 's/^summary: \([0-9]*\).*/\1/p' "$out" | head -1)
  [ -n "$ir" ] || ir=$(sed -n 's/^totals: \([0-9]*\).*/\1/p' "$out" | head -1)
  echo "$ir $units"
}

# Functions with the most instructions of their own in a run, for -v.
where() {
  [ "$verbose" = 1 ] || return 0
  callgrind_annotate "$work/callgrind.$1" 2>/dev/null |
    sed -n '/file:function/,$p' | grep -E '^ *[0-9,]+ \(' |
    sed -E 's/ \[[^]]*\]$//; s#^ *[0-9,]+ \( *([0-9.]+)%\) +([^ ]*/)?#\1%  #' | head -6 |
    awk '{ print "      " $0 }' || true
}

row() {  # row LABEL UNIT "IR UNITS"
  local ir n
  read -r ir n <<<"$3"
  awk -v l="$1" -v u="$2" -v ir="$ir" -v n="$n" \
    'BEGIN { printf "  %-28s %12.2f instructions per %-14s (%d / %d)\n", l, ir / n, u, ir, n }'
}

# The exported job calls by their exact names: a pattern such as Output*
# would also match functions inside them (a call's own helpers), and each
# match toggles collection, switching it off again inside the call.
job_calls=(OutputOpen OutputInit OutputInitTwo OutputInitPart OutputProduce OutputProduceTwo OutputComplete
           OutputFlush OutputFormFeed OutputClose)

measure() {  # measure DRIVER TREE
  local d=$1 t=$2 r
  echo "$t: $d"
  r=$(count "$d" "$t.blank1" OutputProduceTwo OutputComplete -- blank1)
  row "blank line, mode 1" "pair" "$r"
  where "$t.blank1"
  r=$(count "$d" "$t.blank9" OutputProduceTwo OutputComplete -- blank9)
  row "blank line, mode 9" "pair" "$r"
  where "$t.blank9"
  r=$(count "$d" "$t.text1" "${job_calls[@]}" -- text1)
  row "text page, mode 1" "input byte" "$r"
  where "$t.text1"
  r=$(count "$d" "$t.photo9" "${job_calls[@]}" -- photo9 "$photo_lines")
  row "photo page, mode 9 ($photo_lines l)" "drawn level" "$r"
  where "$t.photo9"
  for kind in text photo random; do
    r=$(count "$d" "$t.packbits.$kind" packbits -- packbits "$kind")
    row "packbits $kind" "input byte" "$r"
  done
}

echo "callgrind instruction counts (valgrind $(valgrind --version | sed 's/valgrind-//'))"
measure "$native_driver" native

# i386, where the kernel runs 32-bit programs.
if ! "$top/scripts/runs-i386.sh"; then
  echo "i386: skipped: this kernel runs no 32-bit programs, and callgrind cannot count a program under qemu-i386"
  exit 0
fi
i386_driver=$top/build/i386/bench/count_driver
if [ ! -x "$i386_driver" ]; then
  "$top/scripts/build.sh" i386 --target qxdro316_static >/dev/null
  i386_driver=$work/count_driver.i386
  c++ -m32 -std=c++20 -O2 -g -Wall -Wextra -Werror -I"$top/include" "$top/bench/count_driver.cpp" \
    "$top/build/i386/libqxdro316_static.a" -o "$i386_driver"
fi
measure "$i386_driver" i386
