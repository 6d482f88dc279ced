#!/usr/bin/env bash
# Exits 0 when this machine runs 32-bit x86 programs natively.
set -u
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
echo 'int main(void) { return 0; }' >"$tmp/probe.c"
cc -m32 "$tmp/probe.c" -o "$tmp/probe" 2>/dev/null && "$tmp/probe" 2>/dev/null
