#!/usr/bin/env bash
# Installs what the build and the tests need, when it is missing. Quiet when
# everything is already there. Debian packages, as root (or through sudo).
set -euo pipefail

packages=(g++ g++-multilib cmake make googletest libbenchmark-dev libpng-dev binutils file pkgconf
          cups cups-client cups-filters cups-ppdc libcups2-dev libcupsimage2-dev ghostscript poppler-utils
          cups-ipp-utils clang libclang-rt-14-dev libpappl-dev libjpeg-dev chromium libtiff-dev curl
          debhelper lintian systemd binutils-i686-linux-gnu liblcms2-dev)

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# Where the kernel runs no 32-bit programs, the i386 tests run under qemu.
if installed gcc-multilib && ! "$(dirname "$0")/runs-i386.sh"; then
  packages+=(qemu-user)
fi

missing=()
for p in "${packages[@]}"; do
  if ! installed "$p"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
# The 32-bit compiler was new: look again whether the emulator is needed.
if ! installed qemu-user && ! "$(dirname "$0")/runs-i386.sh"; then
  $sudo apt-get install -y -qq --no-install-recommends qemu-user >/dev/null
fi
