#!/usr/bin/env bash
# Installs, from Debian's packages, whatever this machine lacks to build
# mimeunpack (no argument), to run every test (--tests), or for CI's extra
# checks: formatting, clang-tidy, the sanitizer and fuzz builds (--ci).
# Packages already present are left alone; nothing is fetched otherwise.
set -euo pipefail

mode=${1:-build}
case $mode in build | --tests | --ci) ;; *)
  echo "usage: tools/setup.sh [--tests|--ci]" >&2
  exit 2
  ;;
esac

need=()
want() { # want PACKAGE TEST-COMMAND...: PACKAGE unless the test succeeds
  local package=$1
  shift
  "$@" >/dev/null 2>&1 || need+=("$package")
}
have_header() { [ -f "/usr/include/$1" ]; }

want cmake command -v cmake
want g++ command -v g++
want python3 command -v python3
want pkg-config command -v pkg-config
want libgtest-dev have_header gtest/gtest.h
want libgmime-3.0-dev pkg-config --exists gmime-3.0
want nlohmann-json3-dev have_header nlohmann/json.hpp
if [ "$mode" != build ]; then
  want dpkg-dev command -v dpkg-shlibdeps
  want file command -v file
  want groff-base command -v groff
  want time test -x /usr/bin/time
  want lintian command -v lintian
  want chromium command -v chromium
  # The zsh and fish completions are tried in the shells themselves.
  want zsh command -v zsh
  want fish command -v fish
fi
if [ "$mode" = --ci ]; then
  want clang-format command -v clang-format
  want clang-tidy command -v clang-tidy
  want clang command -v clang++
  want libclang-rt-14-dev compgen -G \
    "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a"
fi

[ ${#need[@]} -eq 0 ] && exit 0
echo "setup: installing ${need[*]}" >&2
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q --no-install-recommends "${need[@]}"
