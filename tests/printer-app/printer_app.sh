#!/usr/bin/env bash
# The printer application with its real parts: the server started here on
# 127.0.0.1 only, with state, spool, log, socket and temporary files in a
# temp folder; printers with file: devices; jobs sent with ipptool; every
# output read by the strict decoder (qx316 dump) and its planes checked
# against what was sent; the web pages read with curl and, where chromium is
# installed, a screenshot of the printer page. The server is stopped by its
# pid when the test ends, also when it fails.
# Usage: printer_app.sh APP STREAM_INKS SANITIZED(0|1)
set -uo pipefail
app=$1 inks=$2 sanitized=${3:-0}
here=$(cd "$(dirname "$0")" && pwd)
# fail, stop_pid and the private scheduler (cupsd_start, cupsd_stop, job_end_state).
. "$here/../cups/system_lib.sh"
for t in ipptool curl gs pdftoppm; do
  command -v "$t" >/dev/null || { echo "SKIP: $t is not installed (scripts/setup.sh installs it)"; exit 77; }
done
[ -x "$app" ] || fail "no printer application at $app"

work=$(mktemp -d)
pid=""
base=qx316-printer-app
# PAPPL's own places for state and sockets: none may appear.
outside() {
  ls -d /run/$base*.sock /var/run/$base*.sock /tmp/$base* /var/lib/$base* /var/spool/$base* \
        "$HOME/.config/$base"* "$HOME/.cups/ssl/"* /etc/cups/ssl/* 2>/dev/null | sort
}
before=$(outside)
stop_server() {
  stop_pid "$pid" 10
  pid=""
}
# Servers with this test's state folder other than the one it started (a
# sub-command that finds no server starts a private one): their pids.
strays() {
  local e p exe
  exe=$(readlink -f "$app")
  for e in /proc/[0-9]*/environ; do
    p=${e#/proc/}; p=${p%/environ}
    [ "$p" = "${pid:-}" ] && continue
    [ "$(readlink "/proc/$p/exe" 2>/dev/null)" = "$exe" ] || continue
    tr '\0' '\n' <"$e" 2>/dev/null | grep -qx "QX316_STATE_DIR=$work/state" && echo "$p"
  done
  return 0
}
cleanup() {
  local rc=$? p
  cupsd_stop
  stop_server
  for p in $(strays); do stop_pid "$p" 10; done
  if [ $rc -ne 0 ] && [ -f "$work/state/$base.log" ]; then
    echo "--- server log (errors and jobs):"
    grep -E '^[EW] |\[Job ' "$work/state/$base.log" | grep -v '^D' | tail -40
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

if [ "$sanitized" = 1 ]; then
  export LSAN_OPTIONS="suppressions=$here/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
fi
export QX316_STATE_DIR=$work/state
export TMPDIR=$work/tmp XDG_CONFIG_HOME=$work/config
mkdir -p "$work/tmp" "$work/out" "$work/in"
log=$work/state/$base.log
# The log as written so far (PAPPL moves a full log to LOG.O).
logtext() {
  local f
  for f in "$log.O" "$log"; do
    if [ -f "$f" ]; then cat "$f"; fi
  done
  return 0
}

# A free loopback port: the server refuses to start on a busy one.
start_server() {
  local try
  for try in 1 2 3 4 5; do
    port=$((20000 + (RANDOM % 20000)))
    "$app" server -o server-port=$port "${listen_opt[@]}" -o log-level=info >>"$work/server.out" 2>&1 &
    pid=$!
    for _ in $(seq 150); do
      kill -0 "$pid" 2>/dev/null || break
      curl -sf -o /dev/null "http://127.0.0.1:$port/" && return 0
      sleep 0.1
    done
    stop_server
  done
  cat "$work/server.out" >&2
  fail "the server did not start"
}
listen_opt=(-o listen-hostname=127.0.0.1)
start_server
echo "server pid $pid on 127.0.0.1:$port"
# Nothing listens beyond loopback.
only_loopback() {
  if command -v ss >/dev/null; then
    ss -ltnp 2>/dev/null | grep "pid=$pid," | grep -Ev "(127\.0\.0\.1|\[::1\]):$port " | grep -q . &&
      fail "the server listens beyond loopback: $(ss -ltnp | grep "pid=$pid,")"
  fi
  return 0
}
only_loopback

"$app" add -d qx0 -m qx316-h0 -v "file://$work/out" || fail "add qx0 (print head 0)"
"$app" add -d qx2 -m qx316-h2 -v "file://$work/out" || fail "add qx2 (print head 2)"
"$app" printers | sort | tr '\n' ' ' | grep -q '^qx0 qx2 $' || fail "printers lists $("$app" printers)"
workers=()

uri() { echo "ipp://127.0.0.1:$port/ipp/print/$1"; }

# Pages: a solid colour per page (PostScript -> PDF), and PNG, JPEG and PWG
# raster pictures of the first page.
cat >"$work/in/pages.ps" <<'PS'
%!PS
<< /PageSize [595 842] >> setpagedevice
/page { setrgbcolor 0 0 595 842 rectfill showpage } def
0 1 1 page      % cyan
1 0 1 page      % magenta
0 0 0 page      % black
PS
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/in/pages.pdf" "$work/in/pages.ps" ||
  fail "gs could not make the PDF"
pdftoppm -r 30 -f 1 -l 1 -png -singlefile "$work/in/pages.pdf" "$work/in/cyan" || fail "no PNG"
pdftoppm -r 30 -f 2 -l 2 -jpeg -singlefile "$work/in/pages.pdf" "$work/in/magenta" || fail "no JPEG"
# The magenta JPEG in Adobe's inverted CMYK, with ghostscript's CMYK profile
# in three APP2 markers.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpegcmyk -r30 -dFirstPage=2 -dLastPage=2 \
  -sOutputFile="$work/in/magenta-cmyk.jpg" "$work/in/pages.pdf" || fail "gs could not make the CMYK JPEG"
# The magenta JPEG with an RGB page profile (Adobe RGB when ghostscript has
# it) in an APP2 marker after the JFIF header.
page_icc=/usr/share/color/icc/ghostscript/a98.icc
[ -f "$page_icc" ] || page_icc=/usr/share/color/icc/ghostscript/srgb.icc
# An APP2 segment: FF E2, its length (2 bytes, big-endian, counting
# itself), "ICC_PROFILE\0", marker 1 of 1, the profile.
[ "$(od -An -tx1 -N4 "$work/in/magenta.jpg" | tr -d ' ')" = ffd8ffe0 ] || fail "pdftoppm's JPEG has no JFIF header"
at=$((4 + $(od -An -tu1 -j4 -N2 "$work/in/magenta.jpg" | awk '{print $1 * 256 + $2}')))
len=$(($(stat -c %s "$page_icc") + 16))
{ head -c $at "$work/in/magenta.jpg"; printf '\xff\xe2'; printf "$(printf '\\x%02x\\x%02x' $((len >> 8)) $((len & 255)))"
  printf 'ICC_PROFILE\0\1\1'; cat "$page_icc"; tail -c +$((at + 1)) "$work/in/magenta.jpg"; } >"$work/in/magenta-icc.jpg"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r600 -dcupsColorSpace=19 -dcupsBitsPerColor=8 -dFirstPage=1 -dLastPage=1 \
  -sOutputFile="$work/in/cyan.pwg" "$work/in/pages.pdf" || fail "gs could not make the PWG raster"

# Sends a job; prints its id. job NAME PRINTER FILE FORMAT QUALITY COLOR MEDIA [COMPOSITE [INTENT]]
job() {
  local out id
  out=$(ipptool -tv -d job_name="$1" -d format="$4" -d quality="$5" -d color_mode="$6" -d media_type="$7" \
        -d composite="${8:-off}" -d intent="${9:-auto}" -f "$3" "$(uri "$2")" "$here/print_job.test" 2>&1) ||
    fail "Print-Job $1 was not accepted: $(printf '%s\n' "$out" | grep -E 'status|message|FAIL' | head -5)"
  id=$(printf '%s\n' "$out" | sed -n 's/.*job-id (integer) = \([0-9]*\).*/\1/p' | head -1)
  [ -n "$id" ] || fail "Print-Job $1 gave no job id"
  echo "$id"
}

state_of() { # PRINTER ID -> "state|message"
  ipptool -tv -d job_id="$2" "$(uri "$1")" "$here/job_state.test" 2>/dev/null |
    awk -F' = ' '/job-state \(enum\)/{s=$2} /job-state-message/{m=$2} END{print s "|" m}'
}

# Waits (bounded) until the job is completed; an aborted, cancelled or
# stopped job fails at once with its message.
wait_done() { # PRINTER ID NAME
  local st
  for _ in $(seq 600); do
    st=$(state_of "$1" "$2")
    case "${st%%|*}" in
      completed) return 0 ;;
      aborted|canceled|processing-stopped) fail "job $3 (${2}) ended ${st%%|*}: ${st#*|}" ;;
    esac
    sleep 0.1
  done
  fail "job $3 ($2) did not complete in 60 s (state: $st)"
}

# "page:plane" for each plane with ink, from the strict decoder.
inked() { # STREAM
  local out
  out=$("$inks" "$1" 2>&1) || fail "the decoder refused $(basename "$1"): $out"
  printf '%s\n' "$out" | grep -v '^pages' | sort | tr '\n' ' '
}
pages() { # STREAM
  local out
  out=$("$inks" "$1" 2>&1) || fail "the decoder refused $(basename "$1"): $out"
  printf '%s\n' "$out" | sed -n 's/^pages //p'
}
mode_line() { logtext | sed -n "s/.*\\[Job $1\\] Printing with \\(.*\\)/\\1/p" | head -1; }

# Cyan lands in C (and its light plane where the mode has one), never in M
# or K; magenta in M, never in Y or K; black in K alone where the mode has K.
# (sRGB's cyan is greener and its magenta bluer than the inks: the colour
# transform adds some Y to cyan and some C to magenta.)
expect_planes() { # STREAM WANT... (page:plane patterns that must be there) -- NOT... (absent)
  local stream=$1 got; shift
  got=" $(inked "$stream")"
  local absent=0 p
  for p in "$@"; do
    if [ "$p" = -- ]; then absent=1; continue; fi
    if [ $absent = 0 ]; then
      [[ "$got" == *" $p "* ]] || fail "$(basename "$stream"): no ink in $p (inked: $got)"
    else
      [[ "$got" == *" $p "* ]] && fail "$(basename "$stream"): ink in $p (inked: $got)"
    fi
  done
  return 0
}

# What the job log says the job's colour transform was made of.
colour_line() { logtext | sed -n "s/.*\\[Job $1\\] Colour: \\(.*\\)/\\1/p" | head -1; }

echo "== formats: PNG, JPEG, PWG raster, a 3-page PDF"
id=$(job png qx0 "$work/in/cyan.png" image/png 4 color m0); wait_done qx0 "$id" png
expect_planes "$work/out/png.prn" 1:C -- 1:M 1:K
id=$(job jpeg qx0 "$work/in/magenta.jpg" image/jpeg 4 color m0); wait_done qx0 "$id" jpeg
expect_planes "$work/out/jpeg.prn" 1:M -- 1:Y 1:K
[[ "$(colour_line "$id")" == *", sRGB document" ]] || fail "the JPEG without a profile printed with: $(colour_line "$id")"
# A JPEG's own profile reaches the colour transform and changes the inks.
id=$(job jpeg-icc qx0 "$work/in/magenta-icc.jpg" image/jpeg 4 color m0); wait_done qx0 "$id" jpeg-icc
[[ "$(colour_line "$id")" == *", the document"*"s own profile" ]] ||
  fail "the JPEG with $(basename "$page_icc") printed with: $(colour_line "$id")"
expect_planes "$work/out/jpeg-icc.prn" 1:M -- 1:K
cmp -s "$work/out/jpeg-icc.prn" "$work/out/jpeg.prn" && fail "the JPEG's own profile changed nothing"
# Adobe's inverted CMYK prints as the colour it is; its CMYK profile is left out.
id=$(job jpeg-cmyk qx0 "$work/in/magenta-cmyk.jpg" image/jpeg 4 color m0); wait_done qx0 "$id" jpeg-cmyk
expect_planes "$work/out/jpeg-cmyk.prn" 1:M -- 1:Y 1:K
[[ "$(colour_line "$id")" == *", sRGB document" ]] || fail "the CMYK JPEG printed with: $(colour_line "$id")"
logtext | grep -q "\[Job $id\] The CMYK picture's own ICC profile is left out" ||
  fail "no log line for the CMYK JPEG's profile"
id=$(job pwg qx0 "$work/in/cyan.pwg" image/pwg-raster 4 color m0); wait_done qx0 "$id" pwg
expect_planes "$work/out/pwg.prn" 1:C -- 1:M 1:K
id=$(job pdf qx0 "$work/in/pages.pdf" application/pdf 4 color m0); wait_done qx0 "$id" pdf
[ "$(pages "$work/out/pdf.prn")" = 3 ] || fail "the PDF job has $(pages "$work/out/pdf.prn") pages, not 3"
expect_planes "$work/out/pdf.prn" 1:C 2:M 3:K -- 1:M 1:K 2:Y 2:K 3:C 3:M 3:Y

echo "== rendering intents and the printer's profile folder"
id=$(job perceptual qx0 "$work/in/cyan.png" image/png 4 color m0 off perceptual); wait_done qx0 "$id" perceptual
[[ "$(colour_line "$id")" == "intent perceptual, ink profile built in "* ]] ||
  fail "the perceptual job printed with: $(colour_line "$id")"
expect_planes "$work/out/perceptual.prn" 1:C -- 1:M 1:K
# The printer's profile folder, as the job log names it: STATE/profiles/PRINTER-ID.
profiles=$(colour_line "$id" | sed -n 's/.*none usable in \(.*\)\/), .*/\1/p')
[[ "$profiles" == "$work/state/profiles/"[0-9]* ]] || fail "qx0's profile folder is '$profiles', not under $work/state/profiles"
mkdir -p "$profiles"
# A damaged profile: a warning, and the built-in one prints.
echo "not a profile" >"$profiles/default.icc"
id=$(job badprofile qx0 "$work/in/cyan.png" image/png 4 color m0 off relative); wait_done qx0 "$id" badprofile
[[ "$(colour_line "$id")" == "intent relative, ink profile built in "* ]] ||
  fail "the job with a damaged profile printed with: $(colour_line "$id")"
logtext | grep -q "\[Job $id\] .*not a readable ICC profile" || fail "no warning for the damaged profile"
rm -f "$profiles/default.icc"
# A CMYK printer profile for media m0 replaces the built-in one.
if [ -f /usr/share/color/icc/ghostscript/default_cmyk.icc ]; then
  cp /usr/share/color/icc/ghostscript/default_cmyk.icc "$profiles/m0.icc"
  id=$(job ownprofile qx0 "$work/in/cyan.png" image/png 4 color m0 off relative); wait_done qx0 "$id" ownprofile
  [[ "$(colour_line "$id")" == "intent relative, ink profile $profiles/m0.icc, "* ]] ||
    fail "the job with the folder's profile printed with: $(colour_line "$id")"
  cmp -s "$work/out/ownprofile.prn" "$work/out/badprofile.prn" && fail "the folder's profile changed nothing"
  rm -f "$profiles/m0.icc"
fi
# An intent the printer does not offer: refused, or printed as auto with a warning.
out=$(ipptool -tv -d job_name=vivid -d format=image/png -d quality=4 -d color_mode=color -d media_type=m0 \
      -d composite=off -d intent=vivid -f "$work/in/cyan.png" "$(uri qx0)" "$here/print_job.test" 2>&1) || true
id=$(printf '%s\n' "$out" | sed -n 's/.*job-id (integer) = \([0-9]*\).*/\1/p' | head -1)
if [ -n "$id" ]; then
  wait_done qx0 "$id" vivid
  [[ "$(colour_line "$id")" == "intent auto, "* ]] || fail "the vivid job printed with: $(colour_line "$id")"
fi

echo "== print quality and colour mode"
declare -A seen=()
for q in 3 4 5; do
  for c in color monochrome; do
    n=q$q-$c
    id=$(job "$n" qx0 "$work/in/cyan.png" image/png $q $c m0); wait_done qx0 "$id" "$n"
    m=$(mode_line "$id")
    [ -n "$m" ] || fail "job $n: no print mode in the log"
    seen[$n]=$m
    if [ $c = color ]; then
      expect_planes "$work/out/$n.prn" 1:C -- 1:M 1:K
    else
      # Cyan on gray rows: black-only printing on media 0 (plane mode 1).
      expect_planes "$work/out/$n.prn" 1:K -- 1:C 1:M 1:Y
      [[ "$m" == *"colour mode 1: mode 1:"* ]] || fail "job $n is not black only: $m"
    fi
  done
done
# Draft, normal and high print with different quality codes on media 0.
qcodes=$(for q in 3 4 5; do echo "${seen[q$q-color]}" | sed 's/quality \([0-9-]*\),.*/\1/'; done | sort -u | wc -l)
[ "$qcodes" = 3 ] || fail "draft, normal and high do not print differently: ${seen[q3-color]} / ${seen[q4-color]} / ${seen[q5-color]}"

echo "== colour on a black-only head: substituted with a message, printed black only"
out=$(ipptool -tv -d format=image/png -f "$work/in/cyan.png" "$(uri qx2)" "$here/substituted_job.test" 2>&1) ||
  fail "colour on print head 2: $(printf '%s\n' "$out" | grep -E 'status|FAIL|EXPECTED')"
id=$(printf '%s\n' "$out" | sed -n 's/.*job-id (integer) = \([0-9]*\).*/\1/p' | head -1)
wait_done qx2 "$id" substituted
expect_planes "$work/out/substituted.prn" 1:K -- 1:C 1:M 1:Y
# Black only on print head 2 prints.
id=$(job h2-mono qx2 "$work/in/magenta.jpg" image/jpeg 4 monochrome m7); wait_done qx2 "$id" h2-mono
expect_planes "$work/out/h2-mono.prn" 1:K -- 1:C 1:M 1:Y
# A colour picture in a monochrome job prints as its gray (magenta has no
# red-free gray: its red alone would be white).
pdftoppm -r 30 -f 2 -l 2 -png -singlefile "$work/in/pages.pdf" "$work/in/magenta" || fail "no magenta PNG"
id=$(job h2-mono-png qx2 "$work/in/magenta.png" image/png 4 monochrome m7); wait_done qx2 "$id" h2-mono-png
expect_planes "$work/out/h2-mono-png.prn" 1:K -- 1:C 1:M 1:Y

echo "== a cancelled job ends at a page end"
id=$(job cancelled qx0 "$work/in/pages.pdf" application/pdf 5 color m0)
for _ in $(seq 300); do
  [ -s "$work/out/cancelled.prn" ] && break
  sleep 0.05
done
ipptool -q -d job_id="$id" "$(uri qx0)" "$here/cancel_job.test" || fail "Cancel-Job failed"
for _ in $(seq 300); do
  st=$(state_of qx0 "$id")
  [ "${st%%|*}" = canceled ] && break
  [ "${st%%|*}" = completed ] && break
  sleep 0.1
done
[ "${st%%|*}" = canceled ] || echo "note: the job ended ${st%%|*} before the cancel reached it"
# PAPPL shows the job cancelled at once; the job stops at its next line and
# ends the stream there.
if [ "${st%%|*}" = canceled ]; then
  for _ in $(seq 300); do
    logtext | grep "\[Job $id\] Cancelled at line" >/dev/null && break
    sleep 0.1
  done
  logtext | grep "\[Job $id\] Cancelled at line" >/dev/null ||
    fail "the cancel did not stop at a line: $(logtext | grep "\[Job $id\]" | tail -3)"
fi
# The page end follows the cancel: the stream decodes once it is written out.
for _ in $(seq 100); do
  "$inks" "$work/out/cancelled.prn" >/dev/null 2>"$work/cancel.err" && break
  sleep 0.1
done
"$inks" "$work/out/cancelled.prn" >/dev/null 2>"$work/cancel.err" ||
  fail "the cancelled job's stream does not decode: $(cat "$work/cancel.err")"
n=$(pages "$work/out/cancelled.prn")
[ "$n" -ge 1 ] && [ "$n" -le 3 ] || fail "the cancelled job has $n pages"

echo "== the test page from the web page's button"
curl -sf -c "$work/cookies" "http://127.0.0.1:$port/qx0/" -o "$work/qx0-form.html" || fail "the printer page did not load"
done_before=$(logtext | grep -c 'Completed, job-impressions')
token=$(grep -o 'name="session" value="[0-9a-f]*"' "$work/qx0-form.html" | head -1 | sed 's/.*value="//;s/"//')
[ -n "$token" ] || fail "the printer page has no form session"
curl -sf -b "$work/cookies" -o /dev/null -d "session=$token&action=print-test-page" "http://127.0.0.1:$port/qx0/" ||
  fail "Print Test Page was refused"
for _ in $(seq 600); do
  kill -0 "$pid" 2>/dev/null || fail "the server died printing the test page"
  [ "$(logtext | grep -c 'Completed, job-impressions')" -gt "$done_before" ] && break
  sleep 0.1
done
[ -s "$work/out/Test Page.prn" ] || fail "the test page wrote nothing"
expect_planes "$work/out/Test Page.prn" 1:C 1:M 1:Y 1:K
[ "$(pages "$work/out/Test Page.prn")" = 1 ] || fail "the test page is not one page"

echo "== the printer's own stream: passed on whole, refused broken"
cp "$work/out/png.prn" "$work/in/made.prn"
id=$(job raw qx0 "$work/in/made.prn" application/vnd.qx-model316 4 color m0); wait_done qx0 "$id" raw
cmp -s "$work/in/made.prn" "$work/out/raw.prn" || fail "the stream was not passed on as it is"
head -c 1000 "$work/in/made.prn" >"$work/in/broken.prn"
id=$(job broken qx0 "$work/in/broken.prn" application/vnd.qx-model316 4 color m0)
for _ in $(seq 300); do
  st=$(state_of qx0 "$id"); [ "${st%%|*}" = aborted ] && break; sleep 0.1
done
[ "${st%%|*}" = aborted ] || fail "a broken stream was not refused (state ${st%%|*})"
[[ "${st#*|}" == *"not a whole model 316 stream"* ]] || fail "the broken stream's message: ${st#*|}"
[ -s "$work/out/broken.prn" ] && fail "bytes of a broken stream reached the device"

echo "== web pages"
curl -sf "http://127.0.0.1:$port/" -o "$work/home.html" || fail "the status page did not load"
grep -q 'qx0' "$work/home.html" && grep -q 'qx2' "$work/home.html" || fail "the status page does not show the printers"
curl -sf "http://127.0.0.1:$port/qx0/" -o "$work/qx0.html" || fail "the printer page did not load"
grep -q 'QX model 316, print head 0' "$work/qx0.html" || fail "the printer page does not show the model"
curl -sf "http://127.0.0.1:$port/qx0/jobs" -o "$work/jobs.html" || fail "the jobs page did not load"
for n in png jpeg pwg pdf; do
  grep -q ">$n<" "$work/jobs.html" || fail "the jobs page does not list job $n"
done
grep -qi 'completed' "$work/jobs.html" || fail "the jobs page shows no completed job"
chrome=$(command -v chromium || command -v chromium-browser || true)
if [ -n "$chrome" ] && [ "$sanitized" = 0 ]; then
  timeout 120 "$chrome" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/chrome" --screenshot="$work/shot.png" --window-size=1200,900 \
    "http://127.0.0.1:$port/qx0/" >"$work/chrome.out" 2>&1
  [ -s "$work/shot.png" ] || fail "chromium wrote no screenshot: $(tail -3 "$work/chrome.out")"
  head -c 8 "$work/shot.png" | od -An -tx1 | grep -q '89 50 4e 47 0d 0a 1a 0a' || fail "the screenshot is not a PNG"
  # A blank 1200x900 page compresses to a few kilobytes; a page with text
  # and tables does not.
  size=$(stat -c %s "$work/shot.png")
  [ "$size" -gt 10000 ] || fail "the screenshot is only $size bytes"
  if [ -n "${QX316_SCREENSHOT:-}" ]; then cp "$work/shot.png" "$QX316_SCREENSHOT"; fi
else
  echo "note: no screenshot (chromium ${chrome:-not installed}, sanitized tree: $sanitized)"
fi

echo "== readable names: media types and vendor options, on the web pages and for IPP clients"
curl -sf "http://127.0.0.1:$port/qx0/media" -o "$work/media.html" || fail "the media page did not load"
grep -q '>Media 0 (class 0)<' "$work/media.html" || fail "the media page does not name media 0: $(grep -o '<option value="m[^<]*' "$work/media.html" | head -3)"
bare=$(grep -oE '<option value="m[0-9]+"[^>]*>m[0-9]+<' "$work/media.html" | head -3)
[ -z "$bare" ] || fail "the media page shows bare media codes: $bare"
# Languages other than English get the English names, not codes.
curl -sf -H 'Accept-Language: de' "http://127.0.0.1:$port/qx0/media" | grep -q '>Media 0 (class 0)<' ||
  fail "the media page in German does not name media 0"
curl -sf "http://127.0.0.1:$port/qx0/printing" -o "$work/printing.html" || fail "the printing defaults page did not load"
for label in 'Composite printing' 'Cut sheets (code 0)' 'Banner form length'; do
  grep -qF "$label" "$work/printing.html" || fail "the printing defaults page has no \"$label\""
done
# PAPPL 1.3 added printer-strings-languages-supported to the printer once
# more on every Get-Printer-Attributes while it had a strings resource with
# a language: 300 requests in a row, then each strings attribute once and
# memory as it was.
rss_before=$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status")
files=()
for _ in $(seq 300); do files+=("$here/printer_strings.test"); done
ipptool -t "$(uri qx0)" "${files[@]}" >"$work/strings.out" 2>&1 ||
  fail "Get-Printer-Attributes in a row: $(grep -E 'FAIL|EXPECTED|GOT' "$work/strings.out" | sort | uniq -c | head -5)"
ipptool -tv "$(uri qx0)" "$here/printer_strings.test" >"$work/strings1.out" 2>&1 || fail "Get-Printer-Attributes after 300"
[ "$(grep -c 'printer-strings-languages-supported (' "$work/strings1.out")" = 1 ] ||
  fail "printer-strings-languages-supported comes $(grep -c 'printer-strings-languages-supported (' "$work/strings1.out") times"
rss_after=$(sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status")
echo "resident memory: $rss_before kB before 300 Get-Printer-Attributes, $rss_after kB after"
if [ "$sanitized" = 0 ] && [ $((rss_after - rss_before)) -gt 4096 ]; then
  fail "resident memory grew by $((rss_after - rss_before)) kB over 300 Get-Printer-Attributes"
fi
strings_uri=$(sed -n 's/.*printer-strings-uri (uri) = //p' "$work/strings1.out")
curl -sf "$strings_uri" -o "$work/qx.strings" || fail "the strings file at $strings_uri did not load"
grep -qxF '"media-type.m26" = "Media 26 (class 7)";' "$work/qx.strings" || fail "the strings file does not name media 26: $(head -3 "$work/qx.strings")"
grep -qxF '"qx-paper.banner" = "Banner paper (code 1)";' "$work/qx.strings" || fail "the strings file does not name qx-paper=banner"

# Jobs of a printer in a state group (which-jobs: all, completed, not-completed), as "id state" lines.
jobs_of() { # PRINTER WHICH
  ipptool -tv -d which="$2" "$(uri "$1")" "$here/get_jobs.test" 2>/dev/null |
    awk -F' = ' '/job-id \(integer\)/{id=$2} /job-state \(enum\)/{print id, $2}'
}
alive() { # WHAT
  kill -0 "$pid" 2>/dev/null || fail "the server died $1: $(logtext | grep -E '^[EW] ' | tail -3)"
  ipptool -q "$(uri qx0)" "$here/job_state.test" -d job_id=1 >/dev/null 2>&1
  curl -sf -o /dev/null "http://127.0.0.1:$port/" || fail "the server does not answer $1"
}
# Waits (bounded) until the printer has no job pending or processing.
wait_idle() { # PRINTER SECONDS WHAT
  local n
  for _ in $(seq $(($2 * 5))); do
    n=$(jobs_of "$1" not-completed | wc -l)
    [ "$n" = 0 ] && return 0
    kill -0 "$pid" 2>/dev/null || fail "the server died $3"
    sleep 0.2
  done
  fail "$1 still has $n jobs not completed $2 s after $3: $(jobs_of "$1" not-completed | head -3 | tr '\n' ' ')"
}
no_twice() { # PRINTER WHAT
  local dup
  dup=$(jobs_of "$1" all | awk '{print $1}' | sort | uniq -d | head -5 | tr '\n' ' ')
  [ -z "$dup" ] || fail "Get-Jobs lists jobs twice $2: $dup"
}

# Small documents for jobs sent by the hundred: a 1 x 1 inch PDF page and PNG.
printf '%%!PS\n<< /PageSize [72 72] >> setpagedevice 1 0 0 setrgbcolor 0 0 72 72 rectfill showpage\n' >"$work/in/small.ps"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sOutputFile="$work/in/small.pdf" "$work/in/small.ps" || fail "gs: small PDF"
pdftoppm -r 100 -png -singlefile "$work/in/small.pdf" "$work/in/small" || fail "pdftoppm: small PNG"
mkdir -p "$work/load"
"$app" add -d load -m qx316-h0 -v "file://$work/load" || fail "add the load printer"

echo "== cancel storm: PDF jobs cancelled while pending or starting"
storm=${QX316_STORM_PAIRS:-200}
files=()
for _ in $(seq "$storm"); do files+=("$here/print_cancel.test"); done
ipptool -d job_name=storm -d format=application/pdf -f "$work/in/small.pdf" "$(uri load)" "${files[@]}" \
  >"$work/storm.out" 2>&1 || fail "the cancel storm: $(grep -E 'FAIL|status-code|error' "$work/storm.out" | head -5)"
alive "in the cancel storm"
wait_idle load 60 "the cancel storm"
no_twice load "after the cancel storm"

echo "== load: 300 small PNG jobs, 20 at a time; resident memory after 40 and after 300"
t0=$(date +%s)
rss() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$pid/status"; }
# 20 workers at a time, each sending its small PNG jobs FIRST..LAST (png-W-I).
send_load() { # FIRST LAST
  local w
  workers=()
  for w in $(seq 20); do
    (
      for i in $(seq "$1" "$2"); do
        ipptool -q -d job_name="png-$w-$i" -d format=image/png -f "$work/in/small.png" "$(uri load)" \
          "$here/small_job.test" >/dev/null 2>&1 || { echo "worker $w job $i refused" >"$work/load-$w.err"; exit 1; }
      done
    ) &
    workers+=($!)
  done
  for w in "${workers[@]}"; do wait "$w"; done
  [ -z "$(cat "$work"/load-*.err 2>/dev/null)" ] || fail "jobs refused under load: $(cat "$work"/load-*.err | head -3)"
  alive "under load"
}
send_load 1 2
wait_idle load 60 "40 PNG jobs"
rss40=$(rss)
send_load 3 15
wait_idle load 180 "300 PNG jobs"
rss300=$(rss)
echo "resident memory: $rss40 kB after 40 jobs, $rss300 kB after 300"
if [ "$sanitized" = 0 ] && [ $((rss300 - rss40)) -gt 24576 ]; then
  fail "resident memory grew by $(((rss300 - rss40) / 1024)) MiB from 40 to 300 jobs"
fi
no_twice load "after 300 PNG jobs"
made=$(ls "$work/load" | grep -c '^png-.*\.prn$')
[ "$made" = 300 ] || fail "300 PNG jobs made $made streams"
for f in "$work"/load/png-*.prn; do
  [ "$(pages "$f")" = 1 ] || fail "$(basename "$f") is not a one-page stream"
done
echo "300 jobs in $(( $(date +%s) - t0 )) s"

echo "== 100 jobs sent at once"
workers=()
for i in $(seq 100); do
  ipptool -q -d job_name="once-$i" -d format=image/png -f "$work/in/small.png" "$(uri load)" \
    "$here/small_job.test" >/dev/null 2>&1 &
  workers+=($!)
done
refused=0
for w in "${workers[@]}"; do wait "$w" || refused=$((refused + 1)); done
[ "$refused" = 0 ] || fail "$refused of 100 jobs sent at once were refused"
alive "after 100 jobs at once"
wait_idle load 120 "100 jobs sent at once"
no_twice load "after 100 jobs at once"
made=$(ls "$work/load" | grep -c '^once-.*\.prn$')
[ "$made" = 100 ] || fail "100 jobs sent at once made $made streams"

echo "== damaged documents end aborted with a reason"
size=$(stat -c %s "$work/in/cyan.png")
head -c $((size / 2)) "$work/in/cyan.png" >"$work/in/cut.png"
size=$(stat -c %s "$work/in/magenta.jpg")
head -c $((size / 2)) "$work/in/magenta.jpg" >"$work/in/cut.jpg"
for d in "cut.png:image/png" "pages.pdf:image/png" "cut.png:application/pdf" "cut.jpg:image/jpeg" \
         "cut.png:image/jpeg"; do
  f=${d%%:*} fmt=${d#*:}
  id=$(job "bad-$f" load "$work/in/$f" "$fmt" 4 color m0)
  for _ in $(seq 100); do
    st=$(state_of load "$id"); [ "${st%%|*}" = aborted ] && break; sleep 0.1
  done
  [ "${st%%|*}" = aborted ] || fail "$f as $fmt is not aborted after 10 s (state ${st%%|*})"
  [ -n "${st#*|}" ] || fail "$f as $fmt was aborted without a reason"
  [ "$f" != cut.jpg ] || [[ "${st#*|}" == *"ends before the picture"* ]] ||
    fail "the cut JPEG was aborted with: ${st#*|}"
done
alive "after damaged documents"

echo "== only requests that name this server are answered; settings change only for this server's pages"
code() { curl -s -o /dev/null -w '%{http_code}' "$@"; }
[ "$(code "http://127.0.0.1:$port/qx2/delete")" = 200 ] || fail "the delete page of qx2 does not load"
# A Get-Printer-Attributes request as bytes (IPP 2.0, request id 1).
byte() { printf "\\$(printf %03o "$1")"; }
ippattr() { # TAG NAME VALUE
  byte "$1"
  byte $((${#2} >> 8)); byte $((${#2} & 255)); printf '%s' "$2"
  byte $((${#3} >> 8)); byte $((${#3} & 255)); printf '%s' "$3"
}
{ printf '\002\000\000\013\000\000\000\001\001'
  ippattr 71 attributes-charset utf-8; ippattr 72 attributes-natural-language en
  ippattr 69 printer-uri "ipp://127.0.0.1:$port/ipp/print/qx0"; printf '\003'; } >"$work/gpa.ipp"
ipp() { code -H 'Content-Type: application/ipp' --data-binary @"$work/gpa.ipp" "$@" "http://127.0.0.1:$port/ipp/print/qx0"; }
# Reading pages and IPP answers too: a page of another site resolved to
# this server's address must not read them.
for h in "1.attacker.example:$port" "127.0.0.1.attacker.example:$port" "attacker.example"; do
  for path in / /qx0/jobs /qx2/delete; do
    c=$(code -H "Host: $h" "http://127.0.0.1:$port$path")
    [ "$c" = 400 ] || fail "$path answered $c to Host: $h"
  done
  c=$(ipp -H "Host: $h")
  [ "$c" = 400 ] || fail "Get-Printer-Attributes answered $c to Host: $h"
done
# What clients send: the address they connect to, localhost, the machine's
# .local name.
for h in "127.0.0.1:$port" "localhost:$port" "[::1]:$port" "${HOSTNAME%%.*}.local:$port" "localhost"; do
  c=$(code -H "Host: $h" "http://127.0.0.1:$port/")
  [ "$c" = 200 ] || fail "the status page answered $c to Host: $h"
  c=$(ipp -H "Host: $h")
  [ "$c" = 200 ] || fail "Get-Printer-Attributes answered $c to Host: $h"
done
curl -sf -c "$work/cookies2" "http://127.0.0.1:$port/qx2/delete" -o "$work/delete.html" || fail "the delete page"
token=$(grep -o 'name="session" value="[0-9a-f]*"' "$work/delete.html" | head -1 | sed 's/.*value="//;s/"//')
[ -n "$token" ] || fail "the delete page has no form session"
for h in "Origin: http://attacker.example" "Origin: null" "Host: 1.attacker.example:$port"; do
  c=$(code -b "$work/cookies2" -H "$h" -d "session=$token" "http://127.0.0.1:$port/qx2/delete")
  [ "$c" = 403 ] || [ "$c" = 400 ] || fail "deleting qx2 with $h answered $c"
done
"$app" printers | grep -qx qx2 || fail "a refused request deleted qx2"

echo "== CUPS's IPP suites: ipp-1.1, ipp-2.0, ipp-everywhere"
suites=/usr/share/cups/ipptool
# identify-actions is the one thing the model cannot do (no light, display
# or sound). overrides-supported is not listed: PAPPL 1.3 gives a driver
# one set of options per job, and the kit prints a job in one print mode
# (the suite also wants "document-number", PWG 5100.6's "document-numbers").
allowed='identify-actions-|overrides-supported'
for t in ipp-1.1.test ipp-2.0.test ipp-everywhere.test; do
  [ -f "$suites/$t" ] || fail "no $suites/$t (cups-ipp-utils)"
  timeout 300 ipptool -V 2.0 -I -t -f "$work/in/small.pdf" "$(uri qx0)" "$suites/$t" >"$work/$t.out" 2>&1
  npass=$(grep -c '\[PASS\]' "$work/$t.out"); nfail=$(grep -c '\[FAIL\]' "$work/$t.out")
  [ "$npass" -gt 20 ] || fail "$t: only $npass tests passed: $(tail -5 "$work/$t.out")"
  bad=$(awk '/\[FAIL\]/{f=1; name=$0; next} /\[(PASS|SKIP)\]/{f=0} f && /EXPECTED:/{print name " -- " $0}' "$work/$t.out" |
        grep -Ev "EXPECTED: ($allowed)")
  [ -z "$bad" ] || fail "$t: $(printf '%s\n' "$bad" | head -5)"
  [ "$nfail" -le 1 ] || fail "$t: $nfail tests failed"
  echo "$t: $npass passed, $nfail failed on $allowed only, $(grep -c '\[SKIP\]' "$work/$t.out") skipped"
done
alive "after CUPS's suites"
# The inks, whose level the host does not know.
ipptool -tv "$(uri qx0)" get-printer-attributes.test >"$work/gpa.out" 2>&1 || fail "Get-Printer-Attributes"
[ "$(grep -o 'level=-2;colorantname=[a-z]*' "$work/gpa.out" | sort -u | wc -l)" = 4 ] ||
  fail "qx0 does not list four inks of unknown level: $(grep printer-supply "$work/gpa.out")"
grep -q 'custom_max_232.66x1000mm' "$work/gpa.out" || fail "the custom size range is not named as PWG 5101.1 says: $(grep -o 'custom_max[^,]*' "$work/gpa.out")"

echo "== colour through CUPS's driverless queue"
need_cups=1
for t in cupsd lpadmin lp lpstat; do command -v "$t" >/dev/null || need_cups=0; done
if [ $need_cups = 1 ]; then
  chmod 0755 "$work"
  cupsd_start "$CUPS_SYSTEM_SERVERBIN" "$CUPS_SYSTEM_DATADIR" || { cupsd_log; fail "cupsd did not start on 127.0.0.1"; }
  echo "cupsd pid $cupsd_pid on $cupsd_host"
  chmod 0644 "$work/in/magenta.jpg"
  # QUEUE APP-PRINTER COLOUR-DEVICE WANT... -- ABSENT...
  for c in "cupscolor qx0 True 1:M -- 1:Y 1:K" "cupsgray qx2 False 1:K -- 1:C 1:M 1:Y"; do
    read -r queue printer colordev planes <<<"$c"
    lpadmin -h "$cupsd_host" -p "$queue" -E -v "$(uri "$printer")" -m everywhere 2>"$work/lpadmin.err" ||
      fail "lpadmin -m everywhere for $printer: $(cat "$work/lpadmin.err")"
    ppd=$work/cupsd/etc/ppd/$queue.ppd
    # cupsd writes the PPD after lpadmin returns.
    for _ in $(seq 100); do grep -q '^\*ColorDevice' "$ppd" 2>/dev/null && break; sleep 0.1; done
    grep -Eq "^\*ColorDevice:[[:space:]]*\"?$colordev" "$ppd" || fail "$queue's PPD says $(grep '^\*ColorDevice' "$ppd"), not $colordev"
    # CUPS names the media types from the printer's strings.
    grep -Eq '^\*[a-zA-Z_]+\.MediaType M0/Media 0 \(class 0\):' "$ppd" ||
      fail "$queue's PPD does not name media m0: $(grep 'MediaType M0' "$ppd")"
    req=$(lp -h "$cupsd_host" -d "$queue" -t "$queue" "$work/in/magenta.jpg") || fail "lp to $queue"
    cjob=${req#request id is $queue-}; cjob=${cjob%% *}
    st=$(job_end_state "$queue" "$cjob")
    [ "$st" = completed ] || fail "the CUPS job on $queue is $st: $(grep -E '^E ' "$work/cupsd/log/error_log" | tail -3)"
    for _ in $(seq 100); do [ -s "$work/out/$queue.prn" ] && break; sleep 0.1; done
    wait_idle "$printer" 60 "the job from CUPS"
    # shellcheck disable=SC2086
    expect_planes "$work/out/$queue.prn" $planes
    echo "$queue: *ColorDevice: $colordev, planes $(inked "$work/out/$queue.prn")"
  done
  cupsd_stop
else
  echo "note: no CUPS scheduler installed: the driverless queue is not tried"
fi

echo "== killed mid-job: restarts with its printers, no job left processing, the queue goes on"
id=$(job killed qx0 "$work/in/pages.pdf" application/pdf 5 color m0)
queued=$(job queued qx0 "$work/in/cyan.png" image/png 4 color m0)
for _ in $(seq 300); do [ -s "$work/out/killed.prn" ] && break; sleep 0.05; done
kill -KILL "$pid"; wait "$pid" 2>/dev/null; pid=""
# Started again without listen-hostname: loopback only, as by default.
listen_opt=()
start_server
only_loopback
"$app" printers | sort | tr '\n' ' ' | grep -q '^load qx0 qx2 $' || fail "after a restart printers lists $("$app" printers)"
st=$(state_of qx0 "$id")
[ "${st%%|*}" = aborted ] || fail "the job killed mid-print is ${st%%|*} after a restart, not aborted"
wait_done qx0 "$queued" "queued before the kill"
no_twice qx0 "after a restart"

echo "== killed while it saves its state: printers, defaults and jobs come back whole"
mkdir -p "$work/saves" "$work/gone"
"$app" add -d gone -m qx316-h0 -v "file://$work/gone" || fail "add the printer gone"
for i in $(seq 30); do "$app" add -d "s$i" -m qx316-h0 -v "file://$work/saves" || fail "add s$i"; done
"$app" modify -d load -o print-quality-default=draft || fail "modify load"
expected=$("$app" printers | sort | tr '\n' ' ')
state=$work/state/$base.state
default_of() { # PRINTER ATTRIBUTE
  ipptool -tv "$(uri "$1")" "$here/printer_strings.test" 2>/dev/null | sed -n "s/.* $2 ([a-z]*) = //p"
}
# From here on with TLS on loopback too, its credentials in the state folder.
listen_opt=(-o listen-hostname=127.0.0.1 -o tls=on)
caught=0
for round in 1 2 3 4 5 6 7 8; do
  job "save-$round" qx0 "$work/in/small.png" image/png 4 color m0 >/dev/null
  # A default that changes all the time: one state save after another. (Over
  # IPP: a sub-command that finds no server starts a private one.)
  ( while :; do for q in 3 4 5; do ipptool -q -d quality=$q "$(uri qx0)" "$here/set_default.test" >/dev/null 2>&1; done; done ) &
  changer=$!
  touch "$work/saved-before"
  # Killed as soon as a save begins (its new file appears) or the state
  # file changes.
  for _ in $(seq 100000); do
    if [ -e "$state.new" ]; then caught=$((caught + 1)); break; fi
    [ "$state" -nt "$work/saved-before" ] && break
  done
  kill -KILL "$pid"; wait "$pid" 2>/dev/null; pid=""
  kill "$changer"; wait "$changer" 2>/dev/null
  rm -f "$state.new"
  start_server
  got=$("$app" printers | sort | tr '\n' ' ')
  [ "$got" = "$expected" ] || fail "round $round: after a kill while saving, printers lists $got"
  [ "$(default_of load print-quality-default)" = draft ] ||
    fail "round $round: load's print-quality-default is '$(default_of load print-quality-default)', not draft"
  case $(default_of qx0 print-quality-default) in
    draft|normal|high) ;;
    *) fail "round $round: qx0's print-quality-default is '$(default_of qx0 print-quality-default)'" ;;
  esac
done
echo "$caught of 8 kills came while a new state file was written"
[ "$(curl -sk -o /dev/null -w '%{http_code}' "https://127.0.0.1:$port/")" = 200 ] || fail "no TLS with tls=on"
ls "$work/state/ssl/"*.crt "$work/state/ssl/"*.key >/dev/null 2>&1 ||
  fail "the TLS credentials are not in the state folder: $(ls "$work/state/ssl" 2>&1)"
wait_idle qx0 60 "kills while saving"
no_twice qx0 "after kills while saving"

echo "== a printer deleted while one of its jobs prints and others wait"
# (gone was added before the restarts above: PAPPL 1.3 reports printer-id
# 0 for a printer made in the same run, and the delete sub-command needs
# the id.)
job gone-1 gone "$work/in/pages.pdf" application/pdf 5 color m0 >/dev/null
for i in 2 3 4; do job "gone-$i" gone "$work/in/cyan.png" image/png 4 color m0 >/dev/null; done
for _ in $(seq 300); do [ -s "$work/gone/gone-1.prn" ] && break; sleep 0.05; done
[ -s "$work/gone/gone-1.prn" ] || fail "the first job of gone did not start"
"$app" delete -d gone || fail "delete gone"
for _ in $(seq 300); do "$app" printers | grep -qx gone || break; sleep 0.1; done
"$app" printers | grep -qx gone && fail "gone is still listed 30 s after it was deleted"
alive "after deleting a printer whose jobs printed and waited"
[ -e "$work/gone/gone-4.prn" ] && fail "a job of the deleted printer printed after the delete"

echo "== shutdown, and nothing outside the temp folder"
"$app" shutdown || fail "shutdown failed"
# (PAPPL 1.3 alone noticed the request only after its main loop's 30 s wait.)
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "the server is still running 10 s after shutdown: $(tail -3 "$log")"
wait "$pid" 2>/dev/null
pid=""
[ -z "$(strays)" ] || fail "servers with this test's state are left running: $(strays | tr '\n' ' ')"
[ -f "$work/state/$base.state" ] || fail "no state file in the state folder"
after=$(outside)
# (Other programs may remove theirs meanwhile: only new ones count.)
new=$(comm -13 <(echo "$before") <(echo "$after"))
[ -z "$new" ] || fail "files outside the temp folder: $new"
# Every server run of this test, sanitized or not, reported nothing.
if grep -E "ERROR: [A-Za-z]+Sanitizer|runtime error:|SUMMARY: " "$work/server.out" >&2; then
  fail "the server reported faults (above)"
fi
echo "PASS"
