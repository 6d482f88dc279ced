#!/usr/bin/env bash
# cmake --install into a temp DESTDIR: the library with its SONAME, the
# headers, qx316, the CUPS filter (mode 0755) in the CUPS filter folder, the
# PPDs in the CUPS model folder, and the pkg-config and CMake package files,
# through which a small C program builds and runs against the staged library.
# Usage: system_install.sh BUILD_DIR SANITIZE(0|1) C_COMPILER
set -uo pipefail
build=$1 sanitize=$2 cc=$3
. "$(dirname "$0")/system_lib.sh"
need_tools cmake pkg-config readelf
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
stage=$work/stage

cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
prefix=$(cache CMAKE_INSTALL_PREFIX)
libdir=$(cache CMAKE_INSTALL_LIBDIR)
filter_dir=$(cache QX316_CUPS_FILTER_DIR)
ppd_dir=$(cache QX316_CUPS_PPD_DIR)
[ -n "$prefix" ] && [ -n "$libdir" ] && [ -n "$filter_dir" ] && [ -n "$ppd_dir" ] ||
  fail "the build tree has no install settings (cmake/install.cmake not included?)"
case "$libdir" in /*) ;; *) libdir=$prefix/$libdir ;; esac

DESTDIR=$stage cmake --install "$build" >"$work/install.log" 2>&1 || { cat "$work/install.log"; fail "cmake --install failed"; }

status=0
check() { # description test...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "MISSING: $what"; status=1; fi
}
lib=$stage$libdir/libqxdro316.so
check "library $libdir/libqxdro316.so" test -f "$lib"
check "SONAME libqxdro316.so" test "$(readelf -d "$lib" 2>/dev/null | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')" = libqxdro316.so
check "header qxdro316.h" test -f "$stage$prefix/include/qxdro316.h"
check "header qxdro316_inner.h" test -f "$stage$prefix/include/qxdro316_inner.h"
check "qx316 in bin" test -x "$stage$prefix/bin/qx316"
check "pkg-config file" test -f "$stage$libdir/pkgconfig/qxdro316.pc"
check "CMake package file" test -f "$stage$libdir/cmake/qxdro316/qxdro316Config.cmake"
f=$stage$filter_dir/rastertoqx316
check "filter $filter_dir/rastertoqx316" test -x "$f"
check "filter mode 0755" test "$(stat -c %a "$f" 2>/dev/null)" = 755
if [ "$(id -u)" = 0 ]; then
  check "filter owned by root" test "$(stat -c %u "$f" 2>/dev/null)" = 0
fi
shopt -s nullglob
ppds=("$stage$ppd_dir"/*.ppd)
check "PPDs in $ppd_dir (${#ppds[@]})" test ${#ppds[@]} -gt 0
for p in "${ppds[@]}"; do
  check "$(basename "$p") readable by all" test "$(stat -c %a "$p")" = 644
  check "$(basename "$p") is the built one" cmp -s "$p" "$build/tools/cups/ppd/ppd/$(basename "$p")"
done
check "as many PPDs as built" test ${#ppds[@]} -eq "$(ls "$build"/tools/cups/ppd/ppd/*.ppd 2>/dev/null | wc -l)"

# A front end that opens and closes a job through the staged library.
cat > "$work/front.c" <<'C'
#include <qxdro316.h>
#include <stdio.h>
int main(void) {
    QXVSHandle job = NULL;
    int rc = OutputOpen(&job);
    if (rc != QXDRO_OPENED) { printf("OutputOpen: %d\n", rc); return 1; }
    OutputClose(&job);
    puts("job opened and closed");
    return 0;
}
C
san=()
[ "$sanitize" = 1 ] && san=(-fsanitize=address,undefined)
flags=$(PKG_CONFIG_PATH=$stage$libdir/pkgconfig pkg-config --cflags --libs qxdro316) ||
  { echo "pkg-config does not know qxdro316"; status=1; }
if [ -n "${flags:-}" ]; then
  # shellcheck disable=SC2086
  if "$cc" "${san[@]}" -o "$work/front_pc" "$work/front.c" $flags >"$work/cc.log" 2>&1 &&
     LD_LIBRARY_PATH=$stage$libdir "$work/front_pc"; then
    echo "ok: a C program builds and runs through pkg-config ($flags)"
  else
    cat "$work/cc.log"; echo "FAILED: building or running through pkg-config"; status=1
  fi
fi

mkdir -p "$work/proj"
cp "$work/front.c" "$work/proj/"
cat > "$work/proj/CMakeLists.txt" <<'CM'
cmake_minimum_required(VERSION 3.20)
project(front C)
find_package(qxdro316 1.0 REQUIRED)
add_executable(front front.c)
target_link_libraries(front PRIVATE qxdro316::qxdro316)
CM
if cmake -S "$work/proj" -B "$work/proj/build" -DCMAKE_C_COMPILER="$cc" -DCMAKE_PREFIX_PATH="$stage$prefix" \
      -DCMAKE_C_FLAGS="${san[*]}" -DCMAKE_EXE_LINKER_FLAGS="${san[*]}" >"$work/cmake.log" 2>&1 &&
   cmake --build "$work/proj/build" >>"$work/cmake.log" 2>&1 &&
   "$work/proj/build/front"; then
  echo "ok: a C program builds and runs through find_package(qxdro316)"
else
  cat "$work/cmake.log"; echo "FAILED: building or running through find_package"; status=1
fi
exit $status
