#!/usr/bin/env bash
# Configures and builds one tree: native, i386, asan (native with ASan and
# UBSan), i386-ubsan (i386 with UBSan) or tsan (native with ThreadSanitizer).
# Usage: scripts/build.sh TREE [cmake build args...]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
tree=${1:?tree: native, i386, asan, i386-ubsan or tsan}
shift
dir="$top/build/$tree"
jobs=${QX_JOBS:-$(nproc)}

case "$tree" in
  native) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  i386|i386-ubsan)
          flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_FLAGS=-m32 -DCMAKE_CXX_FLAGS=-m32)
          [ "$tree" = i386-ubsan ] && flags+=(-DQX_SANITIZERS=undefined)
          # Where the kernel runs no 32-bit programs, the tests run under
          # qemu's user-mode emulator (scripts/setup.sh installs it then).
          if ! "$top/scripts/runs-i386.sh"; then
            flags+=(-DCMAKE_CROSSCOMPILING_EMULATOR=qemu-i386)
          else
            flags+=(-DCMAKE_CROSSCOMPILING_EMULATOR=)
          fi ;;
  tsan)   flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_SANITIZERS=thread -DQX_BUILD_TOOLS=OFF) ;;
  asan)   flags=(-DCMAKE_BUILD_TYPE=Debug -DQX_SANITIZE=ON) ;;
  *) echo "unknown tree: $tree" >&2; exit 2 ;;
esac

if [ ! -f "$dir/CMakeCache.txt" ] || [ "${tree#i386}" != "$tree" ]; then
  cmake -S "$top" -B "$dir" "${flags[@]}" >/dev/null
fi
cmake --build "$dir" -j "$jobs" "$@"
