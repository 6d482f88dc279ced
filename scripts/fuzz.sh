#!/usr/bin/env bash
# Runs one fuzz target (or all) with clang's libFuzzer, ASan and UBSan.
# Usage: scripts/fuzz.sh TARGET|all [SECONDS] [--merge]
#   TARGET: packbits edge job stream frontend image filter
#   SECONDS: how long to run each target (default 60)
#   --merge: afterwards, minimise the grown corpus back into fuzz/corpus/TARGET
# New inputs grow a work corpus in build/fuzz/corpus/TARGET (seeded from
# fuzz/corpus and fuzz/regressions). A crash is written to
# build/fuzz/crashes/TARGET/ and named in the output; fixed crashes belong
# in fuzz/regressions/TARGET/, which every tree replays as a test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
target=${1:?target: packbits edge job stream frontend image filter, or all}
seconds=${2:-60}
merge=${3:-}
all=(packbits edge job stream frontend image filter)
[ "$target" = all ] && targets=("${all[@]}") || targets=("$target")

"$top/scripts/setup.sh"
command -v clang++ >/dev/null || { echo "fuzz: clang++ is needed (Debian: clang libclang-rt-dev)" >&2; exit 2; }
dir="$top/build/fuzz"
# Every object of the tree carries the coverage hooks and sanitizers; the
# targets themselves link the engine.
if [ ! -f "$dir/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQX_FUZZ_ENGINE=ON \
    -DQX_BUILD_BENCH=OFF \
    -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer" >/dev/null
fi
status=0
for t in "${targets[@]}"; do
  cmake --build "$dir" -j "$(nproc)" --target "fuzz_$t" >/dev/null
  work="$dir/corpus/$t" crashes="$dir/crashes/$t"
  mkdir -p "$work" "$crashes"
  cp -n "$top/fuzz/corpus/$t"/* "$work"/ 2>/dev/null || true
  [ -d "$top/fuzz/regressions/$t" ] && cp -n "$top/fuzz/regressions/$t"/* "$work"/ 2>/dev/null || true
  echo "== fuzz_$t for ${seconds}s (corpus $work, crashes to $crashes/)"
  # One allocation may take at most 1 GiB, except in the filter: libcups
  # reserves (calloc, never touched) a line buffer of the header's bytes per
  # line, up to 4 GiB, before the filter can look at the header. Resident
  # memory stays bounded by -rss_limit_mb all the same.
  malloc_limit=1024
  [ "$t" = filter ] && malloc_limit=4200
  if ! "$dir/fuzz/fuzz_$t" "$work" -max_total_time="$seconds" -rss_limit_mb=2048 -malloc_limit_mb=$malloc_limit \
       -artifact_prefix="$crashes/" -print_final_stats=1 2>"$dir/fuzz_$t.log"; then
    status=1
    echo "fuzz_$t FOUND A FAULT: $(ls -t "$crashes" | head -1 | sed "s|^|$crashes/|")"
    grep -E "^(FAULT|==[0-9]+==ERROR|SUMMARY)" "$dir/fuzz_$t.log" | head -5
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$dir/fuzz_$t.log" | tr '\n' ' '
  echo
  if [ "$merge" = --merge ]; then
    fresh=$(mktemp -d)
    "$dir/fuzz/fuzz_$t" -merge=1 "$fresh" "$work" 2>/dev/null
    rm -f "$top/fuzz/corpus/$t"/*
    cp "$fresh"/* "$top/fuzz/corpus/$t"/
    rm -rf "$fresh"
    echo "fuzz/corpus/$t: $(ls "$top/fuzz/corpus/$t" | wc -l) inputs after merging"
  fi
done
exit $status
