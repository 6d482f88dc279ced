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
cupsd_pid=""
stop_cupsd() {
  if [ -n "$cupsd_pid" ] && kill -0 "$cupsd_pid" 2>/dev/null; then
    kill -TERM "$cupsd_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$cupsd_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$cupsd_pid" 2>/dev/null && kill -KILL "$cupsd_pid" 2>/dev/null
    wait "$cupsd_pid" 2>/dev/null
  fi
  cupsd_pid=""
}
cleanup() { stop_cupsd; rm -rf "$work"; }
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

cat > "$work/etc/cups-files.conf" <<CONF
ServerRoot $work/etc
ServerBin $work/serverbin
DataDir $work/data
RequestRoot $work/spool
TempDir $work/spool/tmp
StateDir $work/state
CacheDir $work/cache
ErrorLog $work/log/error_log
AccessLog $work/log/access_log
PageLog $work/log/page_log
FileDevice Yes
CONF

start_cupsd() { # PORT
  cat > "$work/etc/cupsd.conf" <<CONF
Listen 127.0.0.1:$1
ServerName 127.0.0.1
LogLevel debug
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultAuthType None
# A failing filter ends its job at once (the wait below sees "aborted").
ErrorPolicy abort-job
<Location />
  Order allow,deny
  Allow from 127.0.0.1
</Location>
<Policy default>
  JobPrivateAccess all
  JobPrivateValues none
  SubscriptionPrivateAccess all
  SubscriptionPrivateValues none
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
  cupsd -f -c "$work/etc/cupsd.conf" -s "$work/etc/cups-files.conf" >>"$work/log/cupsd.out" 2>&1 &
  cupsd_pid=$!
  local i
  for i in $(seq 100); do
    kill -0 "$cupsd_pid" 2>/dev/null || { cupsd_pid=""; return 1; }
    lpstat -h "127.0.0.1:$1" -r 2>/dev/null | grep -q "is running" && return 0
    sleep 0.1
  done
  stop_cupsd
  return 1
}

# A free port: a random one that nobody answers on; cupsd fails to start when
# another process takes it first, and then the next one is tried.
port=""
for try in 1 2 3 4 5; do
  p=$((20000 + (RANDOM * 7 + $$) % 40000))
  (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && continue
  if start_cupsd "$p"; then port=$p; break; fi
done
[ -n "$port" ] || { cat "$work/log/cupsd.out"; show_log; fail "cupsd did not start on 127.0.0.1"; }
host=127.0.0.1:$port
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
  state=""
  for _ in $(seq 240); do   # at most 120 s
    state=$(ipptool -c -d job_id="$job" "ipp://$host/printers/$queue" "$here/system_job_state.test" 2>/dev/null |
            sed -n '2p' | cut -d, -f1)
    case "$state" in completed|aborted|canceled|processing-stopped|pending-held) break ;; esac
    sleep 0.5
  done
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
stop_cupsd
exit $status
