#!/usr/bin/env bash
# The whole CUPS filter chain without a scheduler: a two-page PDF made by
# Ghostscript from system_page.ps goes through cupsfilter with a generated
# PPD (pdftopdf, the raster filter, rastertoqx316). The printer stream must
# decode strictly, and carry ink on the same planes, with the same band
# height, as qx316 print gives for a page of the same inks with the same
# options (the PPD's defaults overridden by the case's options).
# Usage: system_cupsfilter.sh QX316 FILTER PPD_DIR PAGE.ps
set -uo pipefail
qx=$1 filter=$2 ppd_dir=$3 page_ps=$4
. "$(dirname "$0")/system_lib.sh"
need_tools cupsfilter gs cups-config "$qx"
[ -x "$filter" ] || fail "no filter at $filter"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_pdf "$page_ps" "$work/page.pdf"
make_ppm "$work/p1.ppm" 1
make_ppm "$work/p2.ppm" 2

# cupsfilter runs filters from the ServerBin of the cups-files.conf it is
# given: the system's filters and the built rastertoqx316.
make_serverbin "$work/serverbin" "$filter"
mkdir -p "$work/serverroot"
cat > "$work/cups-files.conf" <<CONF
ServerBin $work/serverbin
ServerRoot $work/serverroot
DataDir $CUPS_SYSTEM_DATADIR
CONF

# PPD  options...
cases=(
  "qx316-h0.ppd"
  "qx316-h0.ppd ColorModel=Gray"
  "qx316-h0.ppd QXQuality=q3"
  "qx316-h0.ppd QXQuality=q10 MediaType=m1"
  "qx316-h0.ppd QXComposite=on QXQuality=q10 MediaType=m16"
  "qx316-h0.ppd QXPaper=banner QXFormLength=7016"
  "qx316-h1.ppd"
  "qx316-h1.ppd QXQuality=q10 MediaType=m29"
  "qx316-h2.ppd"
)

status=0
n=0
for c in "${cases[@]}"; do
  n=$((n + 1))
  read -r ppd_name opts <<<"$c"
  ppd=$ppd_dir/$ppd_name
  [ -f "$ppd" ] || { echo "case $n: no $ppd"; status=1; continue; }
  mapfile -t chosen < <(job_options "$ppd" $opts)
  cli=$(printf '%s\n' "${chosen[@]}" | cli_options)
  o_args=()
  for kv in $opts; do o_args+=(-o "$kv"); done

  stream=$work/case$n.prn
  if ! cupsfilter -c "$work/cups-files.conf" -p "$ppd" -m printer/qx316 -e "${o_args[@]}" \
       "$work/page.pdf" >"$stream" 2>"$work/case$n.log"; then
    echo "case $n ($c): cupsfilter failed:"; grep -E '^(ERROR|cupsfilter)' "$work/case$n.log" | head -20; status=1; continue
  fi
  if grep -q '^ERROR' "$work/case$n.log"; then
    echo "case $n ($c): the chain reported errors:"; grep '^ERROR' "$work/case$n.log" | head -20; status=1; continue
  fi
  [ -s "$stream" ] || { echo "case $n ($c): empty printer stream"; status=1; continue; }
  ( check_decodes "$qx" "$stream" "$work/case$n.png" $cli ) || { status=1; continue; }

  # The same inks printed directly by qx316 with the same options.
  # shellcheck disable=SC2086
  "$qx" print --quiet $cli "$work/p1.ppm" "$work/p2.ppm" -o "$work/ref$n.prn" ||
    { echo "case $n ($c): qx316 print refused the options $cli"; status=1; continue; }
  got=$(stream_summary "$qx" "$stream") || { status=1; continue; }
  want=$(stream_summary "$qx" "$work/ref$n.prn") || { status=1; continue; }
  if [ "$got" != "$want" ]; then
    echo "case $n ($c): inked planes and band heights differ from qx316 print $cli"
    diff <(echo "$want") <(echo "$got") | sed 's/^/  /'
    status=1
  else
    echo "case $n ($c): $(stat -c %s "$stream") bytes, decodes; $(echo $got)"
  fi
done
exit $status
