#!/usr/bin/env bash
# A real scheduler: cupsd started by this test in the foreground, listening on
# 127.0.0.1 only, with its configuration, spool, state, logs and server
# folders in a temp folder. Queues with a file: device and a generated PPD
# (found through the CUPS model folder, as an installed PPD is) print the
# two-page PDF: with the driver's options on three queues, then with each of
# the standard options desktops and lp send (a table) on one. Each job must
# complete, and the file must be a printer stream that decodes strictly with
# ink on the planes qx316 print gives for the options the job comes to.
# cupsd is stopped by its pid when the test ends, also when it fails. The
# system's scheduler is not touched.
# Usage: system_cupsd.sh QX316 FILTER PPD_DIR PAGE.ps
set -uo pipefail
qx=$1 filter=$2 ppd_dir=$3 page_ps=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/system_lib.sh"
need_tools cupsd lpadmin lp lpstat ipptool gs cups-config "$qx"
[ -x "$filter" ] || fail "no filter at $filter"

work=$(mktemp -d)
cleanup() { cupsd_stop; rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Filters run as the scheduler's user (lp when cupsd runs as root): every
# folder on their way must be open to it. The built filter is copied here.
# It finds libqxdro316.so in the build tree by its run path; where that tree
# is closed to lp, the filter and the library are run from here instead
# (cupsd passes no LD_LIBRARY_PATH of its own to filters, so a two-line
# wrapper sets it).
chmod 0755 "$work"
mkdir -p "$work/lib" "$work/out" "$work/data/model/qx316"
make_serverbin "$work/serverbin" "$filter"
lib=$(ldd "$filter" | sed -n 's/.*libqxdro316\.so => \([^ ]*\).*/\1/p')
if [ "$(id -u)" = 0 ] && [ -n "$lib" ] && ! runuser -u lp -- test -r "$lib" 2>/dev/null; then
  cp "$lib" "$filter" "$work/lib/"
  printf '#!/bin/sh\nLD_LIBRARY_PATH=%s exec %s "$@"\n' "$work/lib" "$work/lib/$(basename "$filter")" \
    >"$work/serverbin/filter/rastertoqx316"
  chmod 0755 "$work/serverbin/filter/rastertoqx316"
  echo "the build tree is closed to lp: the filter runs from $work/lib"
fi
for d in "$CUPS_SYSTEM_DATADIR"/*; do
  [ "$(basename "$d")" = model ] || ln -s "$d" "$work/data/"
done
cp "$ppd_dir"/*.ppd "$work/data/model/qx316/"
chmod -R a+rX "$work/lib" "$work/data" "$work/out"
make_pdf "$page_ps" "$work/page.pdf"
chmod 0644 "$work/page.pdf"
make_ppm "$work/p1.ppm" 1
make_ppm "$work/p2.ppm" 2

cupsd_start "$work/serverbin" "$work/data" || { cupsd_log; fail "cupsd did not start on 127.0.0.1"; }
host=$cupsd_host
echo "cupsd pid $cupsd_pid on $host"

# Sends the PDF to a queue with "-o" options; sets job to the job's id.
submit_pdf() { # QUEUE [K=V ...]
  local queue=$1 kv req; shift
  local o_args=()
  for kv in "$@"; do o_args+=(-o "$kv"); done
  job=""
  req=$(lp -h "$host" -d "$queue" "${o_args[@]}" "$work/page.pdf") || { echo "lp failed"; return 1; }
  job=${req#request id is $queue-}; job=${job%% *}
}

# Waits for a job's end; returns 1 with a message when it did not complete.
wait_job() { # QUEUE JOB
  local state
  state=$(job_end_state "$1" "$2")
  [ "$state" = completed ] || { echo "job $2 is '$state', not completed"; cupsd_log; return 1; }
}

print_pdf() { # QUEUE [K=V ...]
  submit_pdf "$@" && wait_job "$1" "$job"
}

add_queue() { # QUEUE PPD OUT [lpadmin args...]
  local queue=$1 ppd_name=$2 out=$3; shift 3
  lpadmin -h "$host" -p "$queue" -E -v "file://$out" -m "qx316/$ppd_name" "$@" 2>"$work/lpadmin.err" ||
    { echo "lpadmin refused the queue $queue:"; cat "$work/lpadmin.err"; return 1; }
}

# Case N's stream OUT decodes strictly with qx316's options, and qx316 print
# makes the reference $work/refN.prn of the same inks with them.
decodes_with_reference() { # N OUT [qx316 options...]
  local n=$1 out=$2; shift 2
  ( check_decodes "$qx" "$out" "$work/case$n.png" "$@" ) || return 1
  "$qx" print --quiet "$@" "$work/p1.ppm" "$work/p2.ppm" -o "$work/ref$n.prn" || { echo "case $n: qx316 print $* failed"; return 1; }
}

status=0
n=0
# QUEUE PPD options...
for c in "qxh0 qx316-h0.ppd" "qxh0gray qx316-h0.ppd ColorModel=Gray" "qxh1 qx316-h1.ppd QXQuality=q10 MediaType=m29"; do
  n=$((n + 1))
  read -r queue ppd_name opts <<<"$c"
  out=$work/out/$queue.prn
  add_queue "$queue" "$ppd_name" "$out" || { status=1; continue; }
  # shellcheck disable=SC2086
  print_pdf "$queue" $opts || { echo "case $n ($c) failed"; status=1; continue; }
  [ -s "$out" ] || { echo "case $n ($c): the job completed but $out is empty"; cupsd_log; status=1; continue; }
  mapfile -t chosen < <(job_options "$ppd_dir/$ppd_name" $opts)
  cli=$(printf '%s\n' "${chosen[@]}" | cli_options)
  # shellcheck disable=SC2086
  decodes_with_reference $n "$out" $cli || { status=1; continue; }
  got=$(stream_summary "$qx" "$out") && want=$(stream_summary "$qx" "$work/ref$n.prn") || { status=1; continue; }
  if [ "$got" != "$want" ]; then
    echo "case $n ($c): inked planes and band heights differ from qx316 print $cli"
    diff <(echo "$want") <(echo "$got") | sed 's/^/  /'
    status=1
  else
    echo "case $n ($c): job $job completed, $(stat -c %s "$out") bytes, decodes; $(echo $got)"
  fi
done

# The options desktops and lp send, on queues whose quality code is q10
# (so that print-quality 3 and 5 both change it). Each job must complete with
# a stream that decodes, its pages set up at the size the job asks for (the
# filter's page line in the log: the stream itself carries no page size),
# with the planes and band heights of qx316 print with the options it must
# come to (the queue's, changed by the third column: print-quality 3 and 5
# are draft and high for media m0 in colour, monochrome is black only on
# m0), and with the number of pages it must have.
# lp options | PageSize | PPD options it comes to | pages
table=(
  "media=A4|A4||2"
  "media=Letter|Letter||2"
  "media=iso_a4_210x297mm|A4||2"
  "media=A4,m16|A4|MediaType=m16|2"
  "PageSize=Legal|Legal||2"
  "print-quality=3|A4|QXQuality=q3|2"
  "print-quality=5|A4|QXQuality=q5|2"
  "print-color-mode=monochrome|A4|ColorModel=Gray|2"
  "print-color-mode=color|A4||2"
  "copies=2|A4||4"
  "page-ranges=1|A4||1"
  "number-up=2|A4||1"
  "orientation-requested=4|A4||2"
  "sides=one-sided|A4||2"
  "fit-to-page|A4||2"
)
# All jobs are sent first, each to a queue of its own (a file: device holds
# one job's stream), and checked one by one while the next ones print.
ppd=$ppd_dir/qx316-h0.ppd
first=$((n + 1))
jobs=()
for row in "${table[@]}"; do
  IFS='|' read -r opts _ <<<"$row"
  n=$((n + 1))
  # shellcheck disable=SC2086
  { add_queue qxo$n qx316-h0.ppd "$work/out/qxo$n.prn" -o QXQuality=q10 && submit_pdf qxo$n $opts; } ||
    { echo "case $n ($opts) failed"; status=1; job=""; }
  jobs[n]=$job
done
n=$((first - 1))
for row in "${table[@]}"; do
  IFS='|' read -r opts size expect pages <<<"$row"
  n=$((n + 1))
  out=$work/out/qxo$n.prn job=${jobs[n]}
  [ -n "$job" ] || continue
  wait_job qxo$n "$job" || { echo "case $n ($opts) failed"; status=1; continue; }
  [ -s "$out" ] || { echo "case $n ($opts): the job completed but $out is empty"; cupsd_log; status=1; continue; }
  # shellcheck disable=SC2086
  mapfile -t chosen < <(job_options "$ppd" QXQuality=q10 $expect)
  cli=$(printf '%s\n' "${chosen[@]}" | cli_options)
  # shellcheck disable=SC2086
  decodes_with_reference $n "$out" $cli || { status=1; continue; }
  got=$(stream_modes "$qx" "$out") && want=$(stream_modes "$qx" "$work/ref$n.prn") || { status=1; continue; }
  got_size=$(sed -n "s/.*\[Job $job\] Printing page 1 (\([0-9]* x [0-9]*\) .*/\1/p" "$work/cupsd/log/error_log")
  want_size=$(page_pixels "$ppd" "$size")
  got_pages=$("$qx" dump "$out" | grep -c 'set-up, page')
  if [ "$got" != "$want" ] || [ "$got_size" != "$want_size" ] || [ "$got_pages" != "$pages" ]; then
    echo "case $n ($opts): want $want_size pixels ($size), $pages pages, $(echo $want) ($cli);" \
         "got ${got_size:-no page line}, $got_pages pages, $(echo $got)"
    status=1
  else
    echo "case $n ($opts): job $job completed, decodes; $got_size, $got_pages pages, $(echo $got)"
  fi
done
cupsd_stop
exit $status
