#!/usr/bin/env bash
# Sets up, builds and runs every test: the i386 product tree, the native
# tree, an ASan+UBSan tree, an i386 UBSan tree, a ThreadSanitizer tree for
# the threads test, a short libFuzzer run of every fuzz target where
# clang is present, and the Debian packages (built, installed, used and
# purged again; run as root, skipped otherwise).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
status=0
for tree in i386 native asan i386-ubsan; do
  echo "== $tree"
  "$top/scripts/build.sh" "$tree" >/dev/null
  (cd "$top/build/$tree" && ctest --output-on-failure -j "$(nproc)") || status=1
done
echo "== tsan"
if "$top/scripts/build.sh" tsan --target threads_test >/dev/null; then
  (cd "$top/build/tsan" && ctest --output-on-failure -R '^threads_test$') || status=1
else
  status=1
fi
if command -v clang++ >/dev/null; then
  echo "== fuzz (${QX_FUZZ_SECONDS:-30} s a target)"
  "$top/scripts/fuzz.sh" all "${QX_FUZZ_SECONDS:-30}" || status=1
fi
echo "== Debian packages"
rc=0
"$top/tests/debian/packages.sh" || rc=$?
[ $rc = 0 ] || [ $rc = 77 ] || status=1
exit $status
