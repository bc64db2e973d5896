#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests use, only those
# that are missing. Non-interactive; run as root (or through sudo) on a fresh
# Debian 12 machine. With --bench, also what make bench measures with and
# against (valgrind's instruction counts, Lua 5.4 as the reference
# interpreter); nothing of the system is built from them. It also makes sure
# a locale with a decimal comma (de_DE.UTF-8) exists, so that the tests that
# check text is the same in any locale run.
set -euo pipefail

packages=(
  g++ make cmake ninja-build pkg-config
  bison flex
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev libsdl2-ttf-dev fonts-dejavu-core
  libegl-dev libgles-dev libegl-mesa0 libgl1-mesa-dri libstb-dev
  libcurl4-openssl-dev libssl-dev libplist-dev ca-certificates
  libcpp-httplib-dev xplanet-images
  clang libclang-rt-14-dev lld
  locales
)
if [ "${1:-}" = "--bench" ]; then
  packages+=(valgrind lua5.4)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The decimal-comma locale (compiled from the locales package's sources).
if ! locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  echo "install-deps: generating the locale de_DE.UTF-8"
  "${sudo_cmd[@]}" localedef -i de_DE -c -f UTF-8 -A /usr/share/locale/locale.alias de_DE.UTF-8
fi
