#!/usr/bin/env bash
# A real scheduler: cupsd started by this test in the foreground, listening on
# 127.0.0.1 only, with its configuration, spool, state, logs and server
# folders in a temp folder. A queue with a file: device and a generated PPD
# (found through the CUPS model folder, as an installed PPD is) prints the
# two-page PDF; the job must complete, and the file must be a printer stream
# that decodes strictly with ink on the planes qx316 print gives for the
# same options. cupsd is stopped by its pid when the test ends, also when it
# fails. The system's scheduler is not touched.
# Usage: system_cupsd.sh QX316 FILTER PPD_DIR PAGE.ps
set -uo pipefail
qx=$1 filter=$2 ppd_dir=$3 page_ps=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/system_lib.sh"
need_tools cupsd lpadmin lp lpstat ipptool gs cups-config "$qx"
[ -x "$filter" ] || fail "no filter at $filter"

work=$(mktemp -d)
cleanup() { stop_private_cupsd; rm -rf "$work"; }
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

show_log() {
  echo "--- cupsd error_log (errors and the job's filter messages):"
  grep -E '^[EW] |ERROR|rastertoqx316' "$work/log/error_log" 2>/dev/null | tail -40
}

# Filters run as the scheduler's user (lp when cupsd runs as root): every
# folder on their way must be open to it. The built filter is copied here.
# It finds libqxdro316.so in the build tree by its run path; where that tree
# is closed to lp, the filter and the library are run from here instead
# (cupsd passes no LD_LIBRARY_PATH of its own to filters, so a two-line
# wrapper sets it).
chmod 0755 "$work"
mkdir -p "$work/etc" "$work/spool/tmp" "$work/state" "$work/cache" "$work/log" "$work/lib" "$work/out" \
         "$work/data/model/qx316"
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

start_private_cupsd "$work" "$work/serverbin" "$work/data"
host=$cupsd_host
echo "cupsd pid $cupsd_pid on $host"

status=0
n=0
# QUEUE PPD options...
for c in "qxh0 qx316-h0.ppd" "qxh0gray qx316-h0.ppd ColorModel=Gray" "qxh1 qx316-h1.ppd QXQuality=q10 MediaType=m29"; do
  n=$((n + 1))
  read -r queue ppd_name opts <<<"$c"
  out=$work/out/$queue.prn
  if ! lpadmin -h "$host" -p "$queue" -E -v "file://$out" -m "qx316/$ppd_name" 2>"$work/lpadmin.err"; then
    echo "case $n: lpadmin refused the queue:"; cat "$work/lpadmin.err"; status=1; continue
  fi
  o_args=()
  for kv in $opts; do o_args+=(-o "$kv"); done
  req=$(lp -h "$host" -d "$queue" "${o_args[@]}" "$work/page.pdf") || { echo "case $n: lp failed"; status=1; continue; }
  job=${req#request id is $queue-}; job=${job%% *}
  state=$(private_cupsd_job_end "$queue" "$job" 120)
  if [ "$state" != completed ]; then
    echo "case $n ($c): job $job is '${state:-unknown}', not completed"; show_log; status=1; continue
  fi
  [ -s "$out" ] || { echo "case $n ($c): the job completed but $out is empty"; show_log; status=1; continue; }
  mapfile -t chosen < <(job_options "$ppd_dir/$ppd_name" $opts)
  cli=$(printf '%s\n' "${chosen[@]}" | cli_options)
  ( check_decodes "$qx" "$out" "$work/case$n.png" $cli ) || { status=1; continue; }
  # shellcheck disable=SC2086
  "$qx" print --quiet $cli "$work/p1.ppm" "$work/p2.ppm" -o "$work/ref$n.prn" || { echo "case $n: qx316 print $cli failed"; status=1; continue; }
  got=$(stream_summary "$qx" "$out") && want=$(stream_summary "$qx" "$work/ref$n.prn") || { status=1; continue; }
  if [ "$got" != "$want" ]; then
    echo "case $n ($c): inked planes and band heights differ from qx316 print $cli"
    diff <(echo "$want") <(echo "$got") | sed 's/^/  /'
    status=1
  else
    echo "case $n ($c): job $job completed, $(stat -c %s "$out") bytes, decodes; $(echo $got)"
  fi
done
stop_private_cupsd
exit $status
