#!/usr/bin/env bash
# Package check: builds the program, installs it with `cmake --install` into
# a staging folder, checks that the manual page renders without warnings,
# builds the Debian package with cpack, installs it with apt-get, runs the
# example candidate with the installed program, and removes the package.
#
#   TILVANE_PACKAGE_BUILD  build folder (default build/package)
#   TILVANE_PACKAGE_NO_APT set to 1 to stop after building the package
#
# Installing needs root or sudo; the package must not be installed already.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"
build="${TILVANE_PACKAGE_BUILD:-build/package}"
[[ "$build" = /* ]] || build="$root/$build"
jobs="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"
expected="PASS: 5 distinct moduli; displayed classes cover period 12; every one-modulus\
 deletion is non-covering (54 exhaustive DFS nodes)"

step() { printf '\n--- %s ---\n' "$*"; }
fail() {
  echo "check_package: $*" >&2
  exit 1
}

# Runs the example candidate from a folder outside the source tree.
check_program() {
  local program="$1" work
  work="$(mktemp -d)"
  cp "$root/examples/covering_12.txt" "$work/"
  local got
  got="$(cd "$work" && "$program" covering_12.txt)" || fail "$program failed the example"
  rm -rf "$work"
  [ "$got" = "$expected" ] || fail "$program printed: $got"
  echo "$program: $got"
}

check_manual() {
  local warnings
  warnings="$(MANWIDTH=80 man --warnings -l "$1" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "the manual page $1 renders with warnings: $warnings"
  MANWIDTH=80 man -l "$1" | grep -q '^NAME' || fail "the manual page $1 does not render"
  echo "$1 renders"
}

step "build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DTILVANE_BUILD_TESTS=OFF -DTILVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --parallel "$jobs" --target tilvane tilvane_manual

step "cmake --install"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage"
[ -x "$stage/bin/tilvane" ] || fail "bin/tilvane was not installed"
[ -f "$stage/share/man/man1/tilvane.1.gz" ] || fail "share/man/man1/tilvane.1.gz was not installed"
check_program "$stage/bin/tilvane"
check_manual "$root/docs/tilvane.1"
check_manual "$stage/share/man/man1/tilvane.1.gz"

step "cpack"
rm -f "$build"/tilvane_*.deb
(cd "$build" && cpack >/dev/null)
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
deb="$build/tilvane_${version}_amd64.deb"
[ -f "$deb" ] || fail "cpack made no $deb"
contents="$(dpkg-deb -c "$deb")"
for path in ./usr/bin/tilvane ./usr/share/man/man1/tilvane.1.gz; do
  grep -q " $path\$" <<<"$contents" || fail "$deb lacks $path"
done
dpkg-deb -f "$deb" Package Version Maintainer Depends
echo "$deb"

if [ "${TILVANE_PACKAGE_NO_APT:-0}" = 1 ]; then
  echo "package built; not installed (TILVANE_PACKAGE_NO_APT=1)"
  exit 0
fi

step "apt-get install"
sudo=""
if [ "$(id -u)" != 0 ]; then
  command -v sudo >/dev/null 2>&1 || fail "installing the package needs root or sudo"
  sudo=sudo
fi
if dpkg-query -W -f='${Status}' tilvane 2>/dev/null | grep -q 'install ok installed'; then
  fail "a tilvane package is installed already; remove it first"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y -q "$deb"
trap 'rm -rf "$stage"; $sudo apt-get remove -y tilvane >/dev/null' EXIT
check_program /usr/bin/tilvane
[ "$(man -w tilvane)" = /usr/share/man/man1/tilvane.1.gz ] || fail "man does not find tilvane(1)"
check_manual /usr/share/man/man1/tilvane.1.gz

step "apt-get remove"
$sudo apt-get remove -y -q tilvane
trap 'rm -rf "$stage"' EXIT
[ ! -e /usr/bin/tilvane ] || fail "/usr/bin/tilvane is left after removal"
printf '\npackage check passed: %s\n' "$(basename "$deb")"
