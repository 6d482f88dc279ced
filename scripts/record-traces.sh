#!/usr/bin/env bash
# Records the call traces that tests/output/trace_test replays, from the
# library as it was at a reference commit, for i386 and native; or shows one
# recorded sequence readably. Both builds must record the same fingerprints,
# which are kept once, in tests/output/traces/calls.trace.
#   scripts/record-traces.sh [COMMIT] [COUNT]
#   scripts/record-traces.sh --show SEED [CALL] [COMMIT]
# The reference (df8410d) is the last library before the fast intake paths,
# the one that agreed with every worked example. The trace sources of this
# tree drive it: they use only the exported calls and records.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
show=()
if [ "${1:-}" = "--show" ]; then
  show=(--show "${2:?seed}" "${3:--1}")
  commit=${4:-df8410d}
else
  commit=${1:-df8410d}
  count=${2:-5000}
fi

tmp=$(mktemp -d)
cleanup() {
  git -C "$top" worktree remove --force "$tmp/src" >/dev/null 2>&1 || true
  rm -rf "$tmp"
}
trap cleanup EXIT
git -C "$top" worktree add --detach "$tmp/src" "$commit" >/dev/null 2>&1

sources=("$top/tests/output/trace.cpp" "$top/tests/output/trace_record.cpp" "$top/tests/support/alloc_seam.cpp")
record() {  # tree, extra compiler flags...
  local tree=$1; shift
  cmake -S "$tmp/src" -B "$tmp/$tree" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_BUILD_TOOLS=OFF -DQX_BUILD_BENCH=OFF \
        -DQX_BUILD_FUZZ=OFF -DCMAKE_C_FLAGS="$*" -DCMAKE_CXX_FLAGS="$*" >/dev/null
  cmake --build "$tmp/$tree" --target qxdro316_static -j "${QX_JOBS:-$(nproc)}" >/dev/null
  g++ -std=c++20 -O2 "$@" -I"$tmp/src/include" -I"$top/tests/support" -I"$top/tests/output" "${sources[@]}" \
      "$tmp/$tree/libqxdro316_static.a" -Wl,--wrap=calloc -Wl,--wrap=free -o "$tmp/$tree/trace_record"
  local run=()
  if [ "$tree" = i386 ] && ! "$top/scripts/runs-i386.sh"; then run=(qemu-i386); fi
  if [ ${#show[@]} -gt 0 ]; then
    "${run[@]}" "$tmp/$tree/trace_record" "${show[@]}"
  else
    echo "$tree: $("${run[@]}" "$tmp/$tree/trace_record" "$tmp/$tree.trace" "$count")"
  fi
}

if [ ${#show[@]} -gt 0 ]; then
  record native
else
  record native
  record i386 -m32
  # The fingerprints hold values, not layouts: both builds must agree.
  if ! cmp -s "$tmp/native.trace" "$tmp/i386.trace"; then
    echo "the i386 and native builds of $commit disagree; traces not written" >&2
    exit 1
  fi
  mkdir -p "$top/tests/output/traces"
  cp "$tmp/native.trace" "$top/tests/output/traces/calls.trace"
fi
