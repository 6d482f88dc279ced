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

# A private scheduler: cupsd in the foreground on 127.0.0.1 at a free port,
# with its configuration, spool, state, cache and logs below DIR, and the
# given server and data folders. Sets cupsd_pid and cupsd_host; fails when
# no port works. Stop it with stop_private_cupsd (also from a trap).
cupsd_pid=""
cupsd_host=""
start_private_cupsd() { # DIR SERVERBIN DATADIR
  local dir=$1 try p i
  mkdir -p "$dir/etc" "$dir/spool/tmp" "$dir/state" "$dir/cache" "$dir/log"
  cat > "$dir/etc/cups-files.conf" <<CONF
ServerRoot $dir/etc
ServerBin $2
DataDir $3
RequestRoot $dir/spool
TempDir $dir/spool/tmp
StateDir $dir/state
CacheDir $dir/cache
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
FileDevice Yes
CONF
  # A random port that nobody answers on; cupsd fails to start when another
  # process takes it first, and then the next one is tried.
  for try in 1 2 3 4 5; do
    p=$((20000 + (RANDOM * 7 + $$) % 40000))
    (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && continue
    cat > "$dir/etc/cupsd.conf" <<CONF
Listen 127.0.0.1:$p
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
    cupsd -f -c "$dir/etc/cupsd.conf" -s "$dir/etc/cups-files.conf" >>"$dir/log/cupsd.out" 2>&1 &
    cupsd_pid=$!
    for i in $(seq 100); do
      kill -0 "$cupsd_pid" 2>/dev/null || break
      if lpstat -h "127.0.0.1:$p" -r 2>/dev/null | grep -q "is running"; then
        cupsd_host=127.0.0.1:$p
        return 0
      fi
      sleep 0.1
    done
    stop_private_cupsd
  done
  cat "$dir/log/cupsd.out" >&2
  fail "cupsd did not start on 127.0.0.1"
}

stop_private_cupsd() {
  if [ -n "$cupsd_pid" ] && kill -0 "$cupsd_pid" 2>/dev/null; then
    kill -TERM "$cupsd_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$cupsd_pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$cupsd_pid" 2>/dev/null && kill -KILL "$cupsd_pid" 2>/dev/null
    wait "$cupsd_pid" 2>/dev/null
  fi
  cupsd_pid=""
}

# The state of a job of a queue of the private scheduler, once it ends or
# after SECONDS.
private_cupsd_job_end() { # QUEUE JOB SECONDS
  local state="" i
  for i in $(seq $(($3 * 2))); do
    state=$(ipptool -c -d job_id="$2" "ipp://$cupsd_host/printers/$1" "$CUPS_TEST_DIR/system_job_state.test" 2>/dev/null |
            sed -n '2p' | cut -d, -f1)
    case "$state" in completed|aborted|canceled|processing-stopped|pending-held) break ;; esac
    sleep 0.5
  done
  echo "${state:-unknown}"
}
CUPS_TEST_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
