#!/usr/bin/env bash
# The Debian packages as an administrator meets them. Built from a copy of the
# tree (amd64: all five; i386: the library and its development files, with
# the multilib compiler) and checked by lintian; installed with apt-get; used:
# a private cupsd on 127.0.0.1 with the system's ServerBin and DataDir lists
# the driver's models and prints a PDF through one of them to a file, and the
# stream decodes; qx316, pkg-config and a C program built against the
# installed development files answer; systemd accepts the unit, it is
# enabled, and its command line serves. Then purged: no file they installed is left, and the queue stays
# as CUPS keeps a queue whose driver is gone. Whatever the test installed is
# purged when it ends, also when it fails; maintainer scripts start no
# service (policy-rc.d, and no systemd running in a container).
# Usage: tests/debian/packages.sh     (as root; exit 77: skipped)
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/tests/cups/system_lib.sh"
skip() { echo "SKIP: Debian packages: $*"; exit 77; }
export LC_ALL=C

[ "$(id -u)" = 0 ] || skip "needs root (it installs and purges the packages)"
for t in dpkg-buildpackage dh lintian apt-get systemd-analyze cupsd lpadmin lpinfo lp lpstat ipptool gs pkg-config curl; do
  command -v "$t" >/dev/null || skip "$t is not installed (scripts/setup.sh installs it)"
done
packages=(libqxdro316 libqxdro316-dev qx316 printer-driver-qx316 qx316-printer-app)
for p in "${packages[@]}"; do
  dpkg-query -W "$p" >/dev/null 2>&1 && skip "$p is known to dpkg here: the test would replace and purge it"
done
arch=$(dpkg --print-architecture)

work=$(mktemp -d)
chmod 0755 "$work"   # cupsd's filters run as lp
installed=0 own_policy=0 made_state=0 app_pid=""
stop_app() {
  stop_pid "$app_pid" 10
  app_pid=""
}
cleanup() {
  cupsd_stop
  stop_app
  if [ "$installed" = 1 ]; then
    DEBIAN_FRONTEND=noninteractive apt-get purge -o DPkg::Lock::Timeout=300 -y -qq "${packages[@]}" >/dev/null 2>&1 ||
      dpkg --purge "${packages[@]}" >/dev/null 2>&1
  fi
  [ "$own_policy" = 1 ] && rm -f /usr/sbin/policy-rc.d
  [ "$made_state" = 1 ] && rm -rf /var/lib/qx316-printer-app
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
status=0
bad() { echo "FAIL: $*"; status=1; }
ok() { echo "ok: $*"; }

# --- build
src=$work/src
mkdir -p "$src"
if git -C "$top" rev-parse --git-dir >/dev/null 2>&1; then
  (cd "$top" && git ls-files -co --exclude-standard -z | tar --null -T - -cf -) | tar -xf - -C "$src"
else
  tar -C "$top" --exclude=./build --exclude=./out -cf - . | tar -xf - -C "$src"
fi
version=$(cd "$src" && dpkg-parsechangelog -S Version)
# Warnings of the packaging tools count as faults (a library dpkg-shlibdeps
# cannot find is a missing dependency; an export the symbols file lacks, an
# outdated symbols file), except dpkg-architecture's note that gcc -m32 is
# not an i686 cross compiler.
build() { # NAME dpkg-buildpackage args...
  local name=$1 log=$work/build-$1.log warnings; shift
  if (cd "$src" && DPKG_GENSYMBOLS_CHECK_LEVEL=2 DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
        dpkg-buildpackage -b -us -uc "$@") >"$log" 2>&1; then
    warnings=$(grep -E '^(dpkg-[a-z]+|dh_[a-z]+): warning|^CMake Warning' "$log" | grep -v 'does not match CC system type')
    [ -z "$warnings" ] && ok "packages built ($name)" || bad "packages built ($name) with warnings: $warnings"
  else
    tail -40 "$log"; fail "dpkg-buildpackage $* failed"
  fi
}
build "$arch" -Pnocheck
arches=("$arch")
if [ "$arch" = amd64 ] && command -v i686-linux-gnu-objcopy >/dev/null &&
   echo 'int main(void) { return 0; }' | gcc -m32 -x c - -o "$work/m32" 2>/dev/null; then
  build i386 -a i386 -Pnocheck,pkg.qxdro316.libonly
  arches+=(i386)
else
  echo "SKIP: i386 packages: no 32-bit compiler (gcc -m32) or binutils-i686-linux-gnu"
fi

# --- the library in each architecture: its SONAME, libc alone, Multi-Arch
# packages whose shared files agree byte for byte.
for a in "${arches[@]}"; do
  deb=$work/libqxdro316_${version}_$a.deb
  x=$work/x-$a
  dpkg-deb -x "$deb" "$x" || fail "no $deb"
  lib=$(find "$x/usr/lib" -name libqxdro316.so)
  needed=$(readelf -d "$lib" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
  soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
  [ "$needed" = "libc.so.6 " ] && [ "$soname" = libqxdro316.so ] &&
    ok "$a: ${lib#"$x"}, SONAME $soname, needs $needed" ||
    bad "$a: ${lib#"$x"}: SONAME '$soname', needs '$needed' (want libqxdro316.so, libc.so.6 alone)"
  depends=$(dpkg-deb -f "$deb" Depends)
  [[ "$depends" =~ ^libc6\ \([^,]*\)$ ]] && ok "$a: Depends: $depends" || bad "$a: Depends: $depends (want libc6 alone)"
done
if [ ${#arches[@]} = 2 ]; then
  for p in libqxdro316 libqxdro316-dev; do
    clash=$(join <(dpkg-deb -I "$work/${p}_${version}_amd64.deb" md5sums | awk '{print $2, $1}' | sort) \
                 <(dpkg-deb -I "$work/${p}_${version}_i386.deb" md5sums | awk '{print $2, $1}' | sort) |
            awk '$2 != $3 {print $1}')
    [ -z "$clash" ] && ok "$p:amd64 and $p:i386 can be installed together" || bad "$p: files differ between arches: $clash"
  done
fi

# --- lintian: no error; the warnings left are these (see README):
#   shared-library-lacks-version, lacks-unversioned-link-to-shared-library:
#     the product's SONAME is libqxdro316.so, without a version.
lintian --fail-on error,warning --suppress-tags shared-library-lacks-version,lacks-unversioned-link-to-shared-library \
  "$work"/*.changes >"$work/lintian.txt" 2>&1 && ok "lintian: no errors, no other warnings" ||
  { cat "$work/lintian.txt"; bad "lintian"; }

# --- install
debs=()
for p in "${packages[@]}"; do debs+=("$work/${p}_${version}_$arch.deb"); done
removes=$(apt-get install -s --no-install-recommends "${debs[@]}" 2>&1 | sed -n 's/^Remv \([^ ]*\).*/\1/p' | tr '\n' ' ')
[ -z "$removes" ] || fail "installing would remove $removes"
paths() { local d; for d in "${debs[@]}"; do dpkg-deb --fsys-tarfile "$d" | tar -t; done | sed 's|^\.||; s|/$||' | grep . | sort -u; }
paths >"$work/paths"
while read -r f; do [ -e "$f" ] || [ -L "$f" ] && echo "$f"; done <"$work/paths" >"$work/existed"
state() { find /etc/systemd/system /var/lib/systemd/deb-systemd-helper-enabled /var/lib/qx316-printer-app 2>/dev/null | sort; }
state >"$work/state.before"
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\n# No service starts while the packaging test installs.\nexit 101\n' >/usr/sbin/policy-rc.d
  chmod 0755 /usr/sbin/policy-rc.d
  own_policy=1
fi
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -o DPkg::Lock::Timeout=300 -y -q --no-install-recommends "${debs[@]}" >"$work/apt.log" 2>&1 ||
  { tail -30 "$work/apt.log"; fail "apt-get install failed"; }
ok "apt-get install ${packages[*]}"

# --- the installed programs, library and unit
v=$(qx316 --version) && [[ "$v" == "qx316 ${version%%-*} "* ]] && ok "$v" || bad "qx316 --version: '$v' (package $version)"
v=$(pkg-config --modversion qxdro316) && [ "$v" = "${version%%-*}" ] && ok "pkg-config qxdro316 $v" ||
  bad "pkg-config --modversion qxdro316: '$v'"
printf '#include <qxdro316.h>\nint main(void) { QXVSHandle j = 0;\n  if (OutputOpen(&j) != QXDRO_OPENED) return 1;\n  OutputClose(&j); return 0; }\n' >"$work/front.c"
# shellcheck disable=SC2046
cc -o "$work/front" "$work/front.c" $(pkg-config --cflags --libs qxdro316) && "$work/front" &&
  ok "a C program builds with the installed headers and runs on the installed library" || bad "front end against the packages"
unit=$(dpkg -L qx316-printer-app | grep '/systemd/system/qx316-printer-app\.service$')
systemd-analyze verify "$unit" >"$work/verify.txt" 2>&1 && ! grep -q . "$work/verify.txt" &&
  ok "systemd-analyze verify $unit" || { cat "$work/verify.txt"; bad "systemd-analyze verify"; }
[ -L /etc/systemd/system/multi-user.target.wants/qx316-printer-app.service ] && ok "the service is enabled" ||
  bad "qx316-printer-app.service is not enabled"
# What the service leaves once it has run (systemd makes the state folder).
if ! grep -qx /var/lib/qx316-printer-app "$work/state.before"; then
  made_state=1
  mkdir -p /var/lib/qx316-printer-app/spool && touch /var/lib/qx316-printer-app/qx316-printer-app.state
fi
# The service's command line serves (here on loopback, another port and a
# temporary state folder), and a sub-command reaches it through that folder.
exec_start=$(sed -n 's/^ExecStart=//p' "$unit" | sed 's/server-port=[0-9]*/server-port=PORT/')
for try in 1 2 3; do
  port=$((20000 + (RANDOM * 7 + $$ + try) % 40000))
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
  # shellcheck disable=SC2086
  QX316_STATE_DIR=$work/app ${exec_start//PORT/$port} -o listen-hostname=127.0.0.1 >"$work/app.log" 2>&1 &
  app_pid=$!
  for _ in $(seq 150); do
    kill -0 "$app_pid" 2>/dev/null || break
    curl -sf -o /dev/null "http://127.0.0.1:$port/" && break 2
    sleep 0.1
  done
  stop_app
done
if [ -n "$app_pid" ] && QX316_STATE_DIR=$work/app qx316-printer-app status 2>&1 | grep -q '^Running' &&
   grep -q "Listening for connections on '127.0.0.1:$port'" "$work/app.log"; then
  ok "the service's command line serves on 127.0.0.1:$port, logs to stderr, answers its sub-commands"
else
  tail -20 "$work/app.log"; bad "the service's command line: $exec_start"
fi
stop_app

# --- CUPS: the system's filters and data, this test's configuration
cupsd_start "$CUPS_SYSTEM_SERVERBIN" "$CUPS_SYSTEM_DATADIR" || { cupsd_log; fail "cupsd did not start"; }
host=$cupsd_host
lpinfo -h "$host" -m >"$work/models" 2>&1 || { cat "$work/models"; fail "lpinfo -m"; }
grep 'qx316' "$work/models" >"$work/ours"
want=$(grep -c '^ *PCFileName' /usr/share/cups/drv/qx316.drv)
[ "$(grep -c '^drv:///qx316\.drv/' "$work/ours")" = "$want" ] && [ "$(wc -l <"$work/ours")" = "$want" ] &&
  ok "lpinfo -m lists the $want models" || { cat "$work/ours"; bad "lpinfo -m: want $want models from drv:///qx316.drv/"; }
model=$(awk 'NR == 1 {print $1}' "$work/ours")
# What CUPS's package does on upgrade: it picks the models the updater file
# names, and gives each queue the model whose nickname, less the version,
# is its PPD's.
updater=/usr/share/cups/ppd-updaters/printer-driver-qx316.ppd-updater
. "$updater"
# It acts on a package whose updater file changed date: the release's date.
[ "$(stat -c %Y "$updater")" = "$(date -d "$(cd "$src" && dpkg-parsechangelog -S Date)" +%s)" ] &&
  ok "the PPD updater file carries the release's date" || bad "$updater: its date is not the release's"
[ "$(grep -cE "$DRIVER_REGEXP" "$work/models")" = "$want" ] && ok "the PPD updater file names the $want models" ||
  bad "DRIVER_REGEXP '$DRIVER_REGEXP' does not select exactly the driver's models"

mkdir -p "$work/out"
make_pdf "$top/tests/cups/system_page.ps" "$work/page.pdf"
chmod 0644 "$work/page.pdf"
if lpadmin -h "$host" -p qxpkg -E -v "file://$work/out/qxpkg.prn" -m "$model" 2>"$work/lpadmin.err"; then
  ppd=$work/cupsd/etc/ppd/qxpkg.ppd
  old=$(sed -n 's/^\*NickName: *"\(.*\)".*/\1/p' "$ppd" | sed 's/, [0-9.]*$/, 0.9/')
  match() { perl -pe "s/\\s*\\(recommended\\)//; $GENNICKNAME_REGEXP"; }
  picked=$(grep -E "$DRIVER_REGEXP" "$work/models" | match |
           awk -v n="$(echo "$old" | match)" '{ u = $1; sub(/^[^ ]* /, ""); if ($0 == n) print u }')
  [ "$picked" = "$model" ] && ok "a queue made with release 0.9 of $model would be updated to it" ||
    bad "the updater picks '$picked' for a queue of '$old'"
  req=$(lp -h "$host" -d qxpkg "$work/page.pdf") || fail "lp failed"
  job=${req#request id is qxpkg-}; job=${job%% *}
  state=$(job_end_state qxpkg "$job")
  if [ "$state" = completed ] && [ -s "$work/out/qxpkg.prn" ]; then
    cli=$(job_options "$ppd" | cli_options)
    # shellcheck disable=SC2086
    ( check_decodes qx316 "$work/out/qxpkg.prn" "$work/page.png" $cli ) &&
      ok "$model printed the PDF: $(stat -c %s "$work/out/qxpkg.prn") bytes, decodes with $cli" || status=1
  else
    cupsd_log; bad "job $job is '$state'"
  fi
else
  cat "$work/lpadmin.err"; bad "lpadmin -m $model"
fi

# --- purge: nothing of theirs is left; the queue stays, without its driver
dpkg -L "${packages[@]}" 2>&1 | grep -v '^/\.$' >"$work/listed"
DEBIAN_FRONTEND=noninteractive apt-get purge -o DPkg::Lock::Timeout=300 -y -q "${packages[@]}" >"$work/purge.log" 2>&1 ||
  { tail -20 "$work/purge.log"; bad "apt-get purge failed"; }
installed=0
left=$(sort -u "$work/paths" "$work/listed" | grep '^/' | comm -23 - "$work/existed" |
       while read -r f; do [ -e "$f" ] || [ -L "$f" ] && echo "$f"; done)
[ -z "$left" ] && ok "apt-get purge left none of the $(wc -l <"$work/paths") paths they installed" ||
  bad "left after purge: $left"
state >"$work/state.after"
diff "$work/state.before" "$work/state.after" >/dev/null && ok "no unit link or state left" ||
  bad "service state left after purge: $(diff "$work/state.before" "$work/state.after" | grep '^>')"
if lpstat -h "$host" -p qxpkg >/dev/null 2>&1 && ! lpinfo -h "$host" -m 2>/dev/null | grep -q qx316; then
  ok "after purge the queue remains and the models are gone"
else
  bad "after purge: queue or models not as CUPS leaves them"
fi
cupsd_stop
exit $status
