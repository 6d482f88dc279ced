#!/usr/bin/env bash
# Configures and builds one tree: native, i386 or asan (native with ASan+UBSan).
# Usage: scripts/build.sh TREE [cmake build args...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tree=${1:?tree: native, i386 or asan}
shift
dir="$top/build/$tree"
jobs=${QX_JOBS:-$(nproc)}

case "$tree" in
  native) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  i386)   flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32) ;;
  asan)   flags=(-DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=ON) ;;
  *) echo "unknown tree: $tree" >&2; exit 2 ;;
esac

if [ ! -f "$dir/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$dir" "${flags[@]}" >/dev/null
fi
cmake --build "$dir" -j "$jobs" "$@"
