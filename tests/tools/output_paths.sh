#!/usr/bin/env bash
# qx316's output paths and decode limits: a FIFO, a symbolic link and a
# directory given to -o, the decode page cap, and cancel during decode.
# Usage: output_paths.sh QX316
set -uo pipefail
qx316=$(realpath "${1:?path of qx316}")
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done; rm -rf "$work"' EXIT
cd "$work" || exit 1
passed=0 failed=0
check() { # check NAME COMMAND...: counts a pass when COMMAND succeeds
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else echo "FAIL: $name"; failed=$((failed + 1)); fi
}

# A FIFO stays a FIFO and the reader gets the whole stream.
mkfifo fifo
cat fifo > from-fifo & pids+=($!)
"$qx316" print --quiet --dpi 36 -o fifo
wait "${pids[-1]}"
check "fifo stays a fifo" test -p fifo
check "fifo reader gets a stream that decodes" "$qx316" dump from-fifo >/dev/null

# A symbolic link stays a link; the file it names gets the stream.
: > real.prn
ln -s real.prn link.prn
"$qx316" print --quiet --dpi 36 -o link.prn
check "link stays a link" test -L link.prn
check "link target holds the stream" cmp -s real.prn from-fifo

# A directory is reported with its reason, and nothing is left beside it.
mkdir dir
msg=$("$qx316" print --quiet --dpi 36 -o dir 2>&1)
check "directory refused with its reason" grep -q "Is a directory" <<<"$msg"

# Decode writes the first 50 pages' pictures unless asked for all.
printf 'P4 8 8\n\377\377\377\377\377\377\377\377' > tiny.pbm
pages=(); for i in $(seq 60); do pages+=(tiny.pbm); done
"$qx316" print --quiet --quality 3 "${pages[@]}" -o many.prn
msg=$("$qx316" decode many.prn -o many.png 2>&1)
check "decode caps the pictures at 50 pages" test "$(ls many*.png | wc -l)" -eq 50
check "decode says how to get every page" grep -q -- "--all-pages" <<<"$msg"
"$qx316" decode --quiet many.prn -o all.png --all-pages
check "--all-pages writes every page" test "$(ls all*.png | wc -l)" -eq 60

# SIGTERM during decode ends it promptly and leaves no partial picture. The
# built-in page at 600 dpi with every plane drawn takes seconds to decode;
# once signalled, decode stops within a few rows of a picture (well under a
# second on an idle machine; the bound leaves room for a loaded one).
"$qx316" print --quiet -o big.prn
"$qx316" decode --quiet big.prn -o big.png --planes planes 2>cancel.err & pid=$!
pids+=($pid)
sleep 1
kill -TERM $pid
start=$(date +%s%N)
wait $pid; rc=$?
took=$(( ($(date +%s%N) - start) / 1000000 ))
check "cancelled decode fails" test "$rc" -ne 0
check "cancelled decode says so" grep -q "cancelled" cancel.err
check "cancel honoured promptly (${took} ms)" test "$took" -lt 5000
check "no partial pictures" test -z "$(ls planes/*.XXXXXX* big.png.* 2>/dev/null; find . -name '*.png.??????')"

echo "output paths: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
