#!/usr/bin/env bash
# Prints every case of golden_streams.txt with qx316 and compares the stream's
# SHA-256 and size with the recorded ones. A case line is
#   SHA256 SIZE qx316-print-arguments...
# with page paths relative to tests/tools/pages. With --record, the hashes
# and sizes are written anew from the tool as it is (use only when a change
# of stream bytes is intended).
# Usage: golden_streams.sh QX316 [--record]
set -euo pipefail
qx316=$(realpath "${1:?path of qx316}")
record=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
list="$here/golden_streams.txt"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0 total=0
out="$work/list"
: >"$out"
while IFS= read -r line; do
  case "$line" in ''|'#'*) echo "$line" >>"$out"; continue ;; esac
  read -r sum size args <<<"$line"
  total=$((total + 1))
  # The goldens pin the streams of the kit's own separation; colour
  # management has tests of its own.
  # shellcheck disable=SC2086
  (cd "$here/pages" && "$qx316" print --quiet --icc-profile none $args -o "$work/s.prn") || { echo "FAIL: qx316 print $args"; failed=$((failed + 1)); continue; }
  got=$(sha256sum "$work/s.prn" | cut -d' ' -f1)
  gotsize=$(stat -c %s "$work/s.prn")
  echo "$got $gotsize $args" >>"$out"
  if [ "$got" != "$sum" ] || [ "$gotsize" != "$size" ]; then
    [ "$record" = --record ] || echo "FAIL: qx316 print $args: expected $sum ($size bytes), got $got ($gotsize bytes)"
    failed=$((failed + 1))
  fi
done <"$list"
if [ "$record" = --record ]; then
  cp "$out" "$list"
  echo "recorded $total cases"
  exit 0
fi
echo "golden streams: $((total - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
