#!/usr/bin/env bash
# Sets up, builds the i386, native and ASan+UBSan trees and runs every test in each.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
status=0
for tree in i386 native asan; do
  echo "== $tree"
  "$top/scripts/build.sh" "$tree" >/dev/null
  (cd "$top/build/$tree" && ctest --output-on-failure -j "$(nproc)") || status=1
done
exit $status
