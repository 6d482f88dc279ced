#!/usr/bin/env bash
# Times the CUPS raster filter rastertoqx316 beside CUPS's sample filter
# rastertohp on the same A4 600 dpi rasters, made by Ghostscript's cups device
# from the pages in bench/pages/:
#   text      text.ps      1-bit K, chunky              (the PPD's Gray mode)
#   graphics  graphics.ps  1-bit KCMY, banded           (the PPD's CMYK mode)
# Both rasters carry cupsCompression 2 as rastertohp's PPD sets it, and both
# filters read them unchanged. The runs alternate (hp, ours, hp, ours, ...),
# output goes to /dev/null, and the table shows the median of N runs.
#
# Usage: bench/cups_filter_bench.sh [options] [BUILD_DIR]
#   BUILD_DIR      tree holding tools/cups/rastertoqx316 (default build/native)
#   -n N           runs per filter and raster (default 5)
#   -p PAGES       pages per raster (default 4)
#   -m cpu|wall    time measured: user+sys CPU seconds (default) or wall seconds
#   -o OPTIONS     job options for rastertoqx316 (default "QXQuality=q3
#                  MediaType=m0": 1-bit planes, like rastertohp's output)
#   -c             also count instructions of one run each under callgrind
#   -k DIR         keep the rasters, outputs and callgrind files in DIR
# Needs ghostscript, cups (rastertohp), cups-ppdc (ppdc); -c needs valgrind.
# Run by hand, on a quiet machine; it is not part of ctest.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
runs=5
pages=4
metric=cpu
qx_options="QXQuality=q3 MediaType=m0"
callgrind=0
keep=

usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit "${1:-2}"; }

while getopts "n:p:m:o:ck:h" opt; do
  case $opt in
    n) runs=$OPTARG ;;
    p) pages=$OPTARG ;;
    m) metric=$OPTARG ;;
    o) qx_options=$OPTARG ;;
    c) callgrind=1 ;;
    k) keep=$OPTARG ;;
    h) usage 0 ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[ $# -le 1 ] || usage
build=${1:-$top/build/native}

[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "-n wants a positive count" >&2; exit 2; }
[[ $pages =~ ^[1-9][0-9]*$ ]] || { echo "-p wants a positive count" >&2; exit 2; }
case $metric in cpu|wall) ;; *) echo "-m wants cpu or wall" >&2; exit 2 ;; esac

die() { echo "cups_filter_bench: $*" >&2; exit 1; }

ours=$build/tools/cups/rastertoqx316
peer=${RASTERTOHP:-/usr/lib/cups/filter/rastertohp}
drv=/usr/share/cups/drv/sample.drv
[ -x "$ours" ] || die "no $ours (build it: scripts/build.sh native --target rastertoqx316)"
[ -x "$peer" ] || die "no $peer (Debian package cups)"
[ -r "$drv" ] || die "no $drv (Debian package cups)"
command -v gs >/dev/null || die "no gs (Debian package ghostscript)"
command -v ppdc >/dev/null || die "no ppdc (Debian package cups-ppdc)"
gs_devices=$(gs -h 2>/dev/null) || true
grep -qw cups <<<"$gs_devices" || die "this gs has no cups device"
if [ "$callgrind" = 1 ]; then
  command -v valgrind >/dev/null || die "no valgrind (needed by -c)"
fi

tmp=$(mktemp -d "${TMPDIR:-/tmp}/cups_filter_bench.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
work=$tmp
if [ -n "$keep" ]; then
  mkdir -p "$keep"
  work=$(cd "$keep" && pwd)
fi

# rastertohp's PPD: the DeskJet one that ppdc makes from sample.drv.
ppdc -d "$tmp/ppd" "$drv" >/dev/null 2>"$tmp/ppdc.err" || { cat "$tmp/ppdc.err" >&2; die "ppdc failed"; }
ppd=$(grep -l '^\*ModelName: "HP DeskJet' "$tmp"/ppd/*.ppd | head -n 1) || true
[ -n "$ppd" ] || die "ppdc made no DeskJet PPD from $drv"

# name  page          colour space  order  (1 bit per colour)
rasters=(
  "text     text.ps      3 0"
  "graphics graphics.ps  8 1"
)

make_raster() {  # name page space order
  local name=$1 page=$top/bench/pages/$2 inputs=() i
  for ((i = 0; i < pages; i++)); do inputs+=("$page"); done
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=cups -r600 -sPAPERSIZE=a4 -dFIXEDMEDIA \
     -dcupsColorSpace="$3" -dcupsColorOrder="$4" -dcupsBitsPerColor=1 -dcupsCompression=2 \
     -sOutputFile="$work/$name.ras" "${inputs[@]}" >"$tmp/gs.log" 2>&1 \
    || { cat "$tmp/gs.log" >&2; die "gs failed on $2"; }
  [ -s "$work/$name.ras" ] || die "gs made no raster from $2"
}

# run_filter hp|qx raster out: one filter run as CUPS would start it.
run_filter() {
  case $1 in
    hp) PPD=$ppd "$peer" 1 bench bench 1 "" "$2" >"$3" ;;
    qx) env -u PPD "$ours" 1 bench bench 1 "$qx_options" "$2" >"$3" ;;
  esac
}
label() { case $1 in hp) echo rastertohp ;; qx) echo rastertoqx316 ;; esac; }

# timed hp|qx raster: runs the filter once and prints its seconds.
timed() {
  local t rc=0 TIMEFORMAT='%3R %3U %3S'
  { time run_filter "$1" "$2" /dev/null 2>"$tmp/$1.err"; } 2>"$tmp/time" || rc=$?
  if [ "$rc" != 0 ]; then
    tail -n 5 "$tmp/$1.err" >&2
    die "$(label "$1") exited $rc on $(basename "$2")"
  fi
  t=$(tail -n 1 "$tmp/time")
  case $metric in
    cpu) awk '{ printf "%.3f\n", $2 + $3 }' <<<"$t" ;;
    wall) awk '{ printf "%.3f\n", $1 }' <<<"$t" ;;
  esac
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "inf" }'; }

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "rasters: A4 600 dpi, $pages page(s) each; rastertoqx316 options: $qx_options"

# Make the rasters, then check that each filter takes each one (this also
# warms the page cache before the timed runs).
for r in "${rasters[@]}"; do
  read -r name page space order <<<"$r"
  make_raster "$name" "$page" "$space" "$order"
  for f in hp qx; do
    rc=0
    run_filter "$f" "$work/$name.ras" "$work/$name.$f.out" 2>"$work/$name.$f.err" || rc=$?
    [ "$rc" = 0 ] || { tail -n 5 "$work/$name.$f.err" >&2; die "$(label "$f") exited $rc on $name"; }
    [ -s "$work/$name.$f.out" ] || die "$(label "$f") wrote nothing on $name"
  done
  printf '%-9s raster %9d bytes; output: rastertohp %9d bytes, rastertoqx316 %9d bytes\n' \
    "$name" "$(stat -c %s "$work/$name.ras")" \
    "$(stat -c %s "$work/$name.hp.out")" "$(stat -c %s "$work/$name.qx.out")"
  [ -n "$keep" ] || rm -f "$work/$name.hp.out" "$work/$name.qx.out"
done

echo
if [ "$metric" = cpu ]; then what="user+sys CPU seconds"; else what="wall seconds"; fi
echo "median of $runs runs, $what"
printf '%-10s %12s %14s %18s\n' raster rastertohp rastertoqx316 hp/qx316
for r in "${rasters[@]}"; do
  read -r name _ <<<"$r"
  : >"$tmp/hp.times"
  : >"$tmp/qx.times"
  for ((i = 0; i < runs; i++)); do
    timed hp "$work/$name.ras" >>"$tmp/hp.times"
    timed qx "$work/$name.ras" >>"$tmp/qx.times"
  done
  hp=$(median <"$tmp/hp.times")
  qx=$(median <"$tmp/qx.times")
  printf '%-10s %12s %14s %18s\n' "$name" "$hp" "$qx" "$(ratio "$hp" "$qx")"
done

if [ "$callgrind" = 1 ]; then
  echo
  echo "instructions (callgrind, one run each)"
  printf '%-10s %14s %14s %18s\n' raster rastertohp rastertoqx316 hp/qx316
  for r in "${rasters[@]}"; do
    read -r name _ <<<"$r"
    declare -A ir=()
    for f in hp qx; do
      out=$work/callgrind.$name.$f
      rc=0
      case $f in
        hp) PPD=$ppd valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$out" \
              "$peer" 1 bench bench 1 "" "$work/$name.ras" >/dev/null 2>"$out.log" || rc=$? ;;
        qx) env -u PPD valgrind --tool=callgrind --trace-children=yes --callgrind-out-file="$out" \
              "$ours" 1 bench bench 1 "$qx_options" "$work/$name.ras" >/dev/null 2>"$out.log" || rc=$? ;;
      esac
      [ "$rc" = 0 ] || { tail -n 5 "$out.log" >&2; die "$(label "$f") under callgrind exited $rc on $name"; }
      ir[$f]=$(awk '/^(summary|totals):/ { print $2; exit }' "$out")
      [ -n "${ir[$f]}" ] || die "no instruction count in $out"
    done
    printf '%-10s %14s %14s %18s\n' "$name" "${ir[hp]}" "${ir[qx]}" "$(ratio "${ir[hp]}" "${ir[qx]}")"
    unset ir
  done
  [ -z "$keep" ] || echo "callgrind files in $work (callgrind_annotate $work/callgrind.graphics.qx)"
fi
