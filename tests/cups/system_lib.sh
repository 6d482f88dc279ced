# Helpers of the whole-chain CUPS tests (sourced by system_*.sh).
# Every helper writes only below $work, the test's temp folder.

fail() { echo "FAIL: $*" >&2; exit 1; }

need_tools() {
  local t
  for t in "$@"; do
    command -v "$t" >/dev/null 2>&1 || [ -x "$t" ] || { echo "SKIP: $t is not installed (scripts/setup.sh installs it)"; exit 77; }
  done
}

# PDF of two pages from the PostScript test page, made with Ghostscript.
make_pdf() { # PS PDF
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$2" "$1" || fail "gs could not make $2"
}

# A small PPM page (P6) with the inks of each page of the PostScript page:
# page 1 cyan, magenta, yellow, black and red patches; page 2 black only.
make_ppm() { # OUT PAGE(1|2)
  local out=$1 page=$2 w=40 h=48 row="" px i
  if [ "$page" = 1 ]; then
    for px in '\x00\xff\xff' '\xff\x00\xff' '\xff\xff\x00' '\x00\x00\x00' '\xff\x00\x00' '\xff\xff\xff'; do
      for ((i = 0; i < w; i++)); do row+=$px; done
    done
  else
    for ((i = 0; i < w; i++)); do row+='\x00\x00\x00'; done
    for ((i = 0; i < 5 * w; i++)); do row+='\xff\xff\xff'; done
  fi
  { printf 'P6\n%d %d\n255\n' $((6 * w)) $h
    for ((i = 0; i < h; i++)); do printf "$row"; done; } > "$out"
}

# The command-line option of qx316 for a PPD main keyword.
cli_option() {
  case "$1" in
    QXQuality) echo --quality ;;
    MediaType) echo --media ;;
    QXPrintHead) echo --head ;;
    ColorModel) echo --color-mode ;;
    QXComposite) echo --composite ;;
    QXPaper) echo --paper ;;
    QXFormLength) echo --form-length ;;
    *) fail "no qx316 option for the PPD option $1" ;;
  esac
}

# The driver's options a job gets from a PPD and "-o K=V" options: the
# PPD's defaults, overridden by the options. Prints "K=V" lines.
job_options() { # PPD [K=V ...]
  local ppd=$1; shift
  local k
  for k in QXQuality MediaType QXPrintHead ColorModel QXComposite QXPaper QXFormLength; do
    local v
    v=$(sed -n "s/^\*Default$k: *\([^ ]*\).*/\1/p" "$ppd" | tr -d '\r')
    [ -n "$v" ] || fail "$ppd has no default for $k"
    local o
    for o in "$@"; do
      [ "${o%%=*}" = "$k" ] && v=${o#*=}
    done
    echo "$k=$v"
  done
}

# qx316 print options for "K=V" lines on stdin.
cli_options() {
  local kv
  while read -r kv; do
    printf '%s %s ' "$(cli_option "${kv%%=*}")" "${kv#*=}"
  done
}

# "page:plane" of every plane of a stream that carries raster bytes, then
# "bands:N" for each band height the stream sets. Fails when qx316 cannot
# read the stream.
stream_summary() { # QX316 STREAM
  local dump
  dump=$("$1" dump "$2") || fail "qx316 dump refused $2: $(printf '%s\n' "$dump" | tail -n 3)"
  printf '%s\n' "$dump" | sed -n 's/^page \([0-9]*\) plane \([A-Z0-9]*\): \([0-9]*\) bytes.*/\1:\2 \3/p' |
    awk '$2 > 0 { print $1 }' | sort
  printf '%s\n' "$dump" | sed -n 's/.*band height \([0-9]*\).*/bands:\1/p' | sort -u
}

# The inked planes and band heights of a whole stream, whatever the page.
stream_modes() { # QX316 STREAM
  local summary
  summary=$(stream_summary "$1" "$2") || return 1
  printf '%s\n' "$summary" | sed 's/^[0-9]*://' | sort -u
}

# "W x H": the printable area of a PPD page size in pixels at 600 dpi, the
# page a job of that size is rendered to.
page_pixels() { # PPD SIZE
  sed -n "s/^\*ImageableArea $2\/[^:]*: *\"\([^\"]*\)\".*/\1/p" "$1" | tr -d '\r' |
    awk '{ printf "%d x %d\n", ($3 - $1) * 600 / 72 + 0.5, ($4 - $2) * 600 / 72 + 0.5 }'
}

# Decodes a stream strictly with the print options (the printer's view) into
# a preview; fails with the decoder's words.
check_decodes() { # QX316 STREAM OUTPNG [qx316 options...]
  local qx=$1 stream=$2 png=$3; shift 3
  local err
  err=$("$qx" decode "$stream" -o "$png" "$@" 2>&1) || fail "qx316 decode refused $stream: $err"
}

# Builds a private CUPS server folder: the system's filters, backends and
# helpers, and our filter. cupsd and cupsfilter run filters only from there.
make_serverbin() { # DIR FILTER
  local dir=$1 filter=$2 d f
  mkdir -p "$dir/filter"
  for d in backend cgi-bin daemon driver monitor notifier; do
    [ -e "$CUPS_SYSTEM_SERVERBIN/$d" ] && ln -s "$CUPS_SYSTEM_SERVERBIN/$d" "$dir/$d"
  done
  for f in "$CUPS_SYSTEM_SERVERBIN"/filter/*; do
    [ "$(basename "$f")" = rastertoqx316 ] || ln -s "$f" "$dir/filter/"
  done
  cp "$filter" "$dir/filter/rastertoqx316"
  chmod 0755 "$dir" "$dir/filter" "$dir/filter/rastertoqx316"
}

CUPS_SYSTEM_SERVERBIN=$(cups-config --serverbin 2>/dev/null || echo /usr/lib/cups)
CUPS_SYSTEM_DATADIR=$(cups-config --datadir 2>/dev/null || echo /usr/share/cups)

# A private scheduler: cupsd in the foreground, listening on 127.0.0.1 only,
# with its configuration (ServerRoot), spool, state, cache and logs below
# $work/cupsd; filters, backends and drivers from SERVERBIN, data (drv,
# model, mime) from DATADIR. Sets cupsd_pid and cupsd_host; returns 1 when
# no port could be had. Stop it with cupsd_stop, from the test's trap too.
cupsd_pid=""
cupsd_host=""
cupsd_start() { # SERVERBIN DATADIR
  local root=$work/cupsd try p i
  mkdir -p "$root/etc" "$root/spool/tmp" "$root/state" "$root/cache" "$root/log"
  cat > "$root/etc/cups-files.conf" <<CONF
ServerRoot $root/etc
ServerBin $1
DataDir $2
RequestRoot $root/spool
TempDir $root/spool/tmp
StateDir $root/state
CacheDir $root/cache
ErrorLog $root/log/error_log
AccessLog $root/log/access_log
PageLog $root/log/page_log
FileDevice Yes
CONF
  # A random port that nobody answers on; cupsd fails to start when another
  # process takes it first, and then the next one is tried.
  for try in 1 2 3 4 5; do
    p=$((20000 + (RANDOM * 7 + $$ + try) % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && continue
    cat > "$root/etc/cupsd.conf" <<CONF
Listen 127.0.0.1:$p
ServerName 127.0.0.1
LogLevel debug
# Every job's lines stay in error_log: no rotation.
MaxLogSize 0
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultAuthType None
# A failing filter ends its job at once (job_end_state sees "aborted").
ErrorPolicy abort-job
# One job's filters at a time (they cost about 265), however many jobs a
# test has sent.
FilterLimit 300
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
    cupsd -f -c "$root/etc/cupsd.conf" -s "$root/etc/cups-files.conf" >>"$root/log/cupsd.out" 2>&1 &
    cupsd_pid=$!
    for i in $(seq 100); do
      kill -0 "$cupsd_pid" 2>/dev/null || { cupsd_pid=""; break; }
      if lpstat -h "127.0.0.1:$p" -r 2>/dev/null | grep -q "is running"; then
        cupsd_host=127.0.0.1:$p
        return 0
      fi
      sleep 0.1
    done
    cupsd_stop
  done
  cat "$root/log/cupsd.out"
  return 1
}

# Stops a server this shell started, by its pid: SIGTERM, up to SECONDS (5)
# to end, then SIGKILL; reaps it. Nothing for an empty or ended pid.
stop_pid() { # PID [SECONDS]
  local pid=$1 tenths=$((${2:-5} * 10))
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq "$tenths"); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  return 0
}

cupsd_stop() {
  stop_pid "$cupsd_pid"
  cupsd_pid=""
}

cupsd_log() {
  echo "--- cupsd error_log (errors and the job's filter messages):"
  grep -E '^[EW] |ERROR|rastertoqx316' "$work/cupsd/log/error_log" 2>/dev/null | tail -40
}

# The state a job ends in (completed, aborted, ...), waiting at most 120 s.
job_end_state() { # QUEUE JOB
  local state="" _
  for _ in $(seq 240); do
    state=$(ipptool -c -d job_id="$2" "ipp://$cupsd_host/printers/$1" "$QX_CUPS_TESTS/system_job_state.test" \
              2>/dev/null | sed -n '2p' | cut -d, -f1)
    case "$state" in completed|aborted|canceled|processing-stopped|pending-held) break ;; esac
    sleep 0.5
  done
  echo "${state:-unknown}"
}

QX_CUPS_TESTS=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
