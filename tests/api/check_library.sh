#!/usr/bin/env bash
# Checks the shared library as a front end's loader sees it: its SONAME, the
# libraries it needs at run time, and its exported names (exactly the list).
# Usage: check_library.sh LIBRARY EXPORTS_FILE ELF_CLASS CHECK_NEEDED
set -u
lib=$1 exports=$2 class=$3 check_needed=$4
fail=0

soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$soname" != "libqxdro316.so" ]; then
  echo "SONAME: got '$soname', want libqxdro316.so"; fail=1
fi

got_class=$(readelf -h "$lib" | awk '/Class:/ {print $2}')
if [ "$got_class" != "$class" ]; then
  echo "ELF class: got $got_class, want $class"; fail=1
fi

if [ "$check_needed" = 1 ]; then
  needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  if [ "$needed" != "libc.so.6 " ]; then
    echo "NEEDED: got '$needed', want only libc.so.6"; fail=1
  fi
fi

# Sanitizer builds add their own markers for every global.
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^__odr_asan' | sort)
expected=$(grep -v '^#' "$exports" | sort)
if [ "$actual" != "$expected" ]; then
  echo "exported names differ (< missing, > unexpected):"
  diff <(echo "$expected") <(echo "$actual") | grep '^[<>]'
  fail=1
fi

if [ $fail -eq 0 ]; then
  echo "library: SONAME, ELF class, run-time needs and $(echo "$expected" | wc -l) exported names as expected"
fi
exit $fail
