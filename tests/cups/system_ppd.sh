#!/usr/bin/env bash
# The generated PPDs pass cupstestppd with every warning counted as a
# failure, with the built filter in place of the installed one (-R).
# There is one PPD per print head that prints, and no other.
# Usage: system_ppd.sh PPD_DIR FILTER PROFILE_DIR
set -uo pipefail
ppd_dir=$1 filter=$2 profiles=$3
. "$(dirname "$0")/system_lib.sh"
need_tools cupstestppd cups-config
[ -x "$filter" ] || fail "no filter at $filter (build rastertoqx316 first)"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# cupstestppd looks for cupsFilter2 programs in ROOT/<serverbin>/filter.
mkdir -p "$work/root$CUPS_SYSTEM_SERVERBIN/filter"
cp "$filter" "$work/root$CUPS_SYSTEM_SERVERBIN/filter/rastertoqx316"
chmod 0755 "$work/root$CUPS_SYSTEM_SERVERBIN/filter/rastertoqx316"
# ... and for the QXInkProfile files in ROOT/<datadir>/profiles, where they are installed.
mkdir -p "$work/root$CUPS_SYSTEM_DATADIR/profiles/qx316"
cp "$profiles"/*.icc "$work/root$CUPS_SYSTEM_DATADIR/profiles/qx316/" || fail "no profiles in $profiles"

shopt -s nullglob
ppds=("$ppd_dir"/*.ppd)
[ ${#ppds[@]} -gt 0 ] || fail "no PPDs in $ppd_dir"
status=0
for ppd in "${ppds[@]}"; do
  out=$(cupstestppd -W all -R "$work/root" "$ppd" 2>&1)
  rc=$?
  if [ $rc -ne 0 ] || printf '%s\n' "$out" | grep -q 'WARN'; then
    echo "cupstestppd failed on $ppd (status $rc):"; printf '%s\n' "$out"; status=1
  else
    echo "$(basename "$ppd"): cupstestppd PASS, no warnings"
  fi
  # The PPD fixes its head with a one-choice option and names it plainly.
  head=$(sed -n 's/^\*QXPrintHead \([^/]*\)\/.*/\1/p' "$ppd")
  [ "$(printf '%s\n' "$head" | grep -c .)" = 1 ] || { echo "$ppd: QXPrintHead must have one choice, has: $head"; status=1; }
  grep -q "^\*ModelName: \"QX Model 316 print head ${head#h}\"" "$ppd" ||
    { echo "$ppd: ModelName does not name print head ${head#h}"; status=1; }
  grep -q '^\*cupsFilter2: "application/vnd.cups-raster application/vnd.qx316-stream 100 rastertoqx316"' "$ppd" ||
    { echo "$ppd: no cupsFilter2 line for rastertoqx316"; status=1; }
done
exit $status
