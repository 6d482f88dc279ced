#!/usr/bin/env bash
# Sets up, builds the native tree and runs the main job: the built-in test
# page printed to a printer stream, then decoded back into a preview picture.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh" native --target qx316 >/dev/null
qx316="$top/build/native/tools/qx316"
out="$top/out"
mkdir -p "$out/planes"
# The default print mode spelled out, so that decode knows each plane's bits
# per dot; later options given to this script win.
mode=(--quality 5 --media 0 --head 0)
"$qx316" print "${mode[@]}" "$@" -o "$out/testpage.prn"
"$qx316" decode "$out/testpage.prn" -o "$out/testpage.png" --planes "$out/planes" "${mode[@]}" "$@"
echo "printer stream: $out/testpage.prn"
echo "preview:        $out/testpage.png (one picture per plane in $out/planes)"
