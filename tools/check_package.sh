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

# Runs the k = 8 census with the explorer and checks its list against the
# fixture and one of its certificates with tilvane.
check_census() {
  local census="$1" checker="$2" work
  work="$(mktemp -d)"
  "$census" --size 8 --max-lcm 128 --space common-multiples --output "$work/k8.txt" \
    --covers "$work/k8" >/dev/null || fail "$census failed the k=8 space"
  cmp -s "$work/k8.txt" "$root/fixtures/k8_expected.txt" || fail "$census k=8 list differs"
  "$checker" "$work/k8/2-3-4-6-8-9-18-72.txt" >/dev/null || fail "a k=8 certificate fails"
  rm -rf "$work"
  echo "$census: the k=8 list matches its fixture"
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
cmake --build "$build" --parallel "$jobs" --target tilvane tilvane-census tilvane-proof-check tilvane_manual

step "cmake --install"
stage="$(mktemp -d)"
trap 'rm -rf "$stage"' EXIT
cmake --install "$build" --prefix "$stage"
for program in tilvane tilvane-census; do
  [ -x "$stage/bin/$program" ] || fail "bin/$program was not installed"
  [ -f "$stage/share/man/man1/$program.1.gz" ] || fail "share/man/man1/$program.1.gz was not installed"
  check_manual "$root/docs/$program.1"
  check_manual "$stage/share/man/man1/$program.1.gz"
done
check_program "$stage/bin/tilvane"
check_census "$stage/bin/tilvane-census" "$stage/bin/tilvane"

step "cpack"
rm -f "$build"/tilvane_*.deb
(cd "$build" && cpack >/dev/null)
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
deb="$build/tilvane_${version}_amd64.deb"
[ -f "$deb" ] || fail "cpack made no $deb"
contents="$(dpkg-deb -c "$deb")"
for path in ./usr/bin/tilvane ./usr/share/man/man1/tilvane.1.gz ./usr/bin/tilvane-census \
  ./usr/share/man/man1/tilvane-census.1.gz; do
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
check_census /usr/bin/tilvane-census /usr/bin/tilvane
for program in tilvane tilvane-census; do
  [ "$(man -w $program)" = /usr/share/man/man1/$program.1.gz ] || fail "man does not find $program(1)"
  check_manual /usr/share/man/man1/$program.1.gz
done

step "apt-get remove"
$sudo apt-get remove -y -q tilvane
trap 'rm -rf "$stage"' EXIT
[ ! -e /usr/bin/tilvane ] || fail "/usr/bin/tilvane is left after removal"
[ ! -e /usr/bin/tilvane-census ] || fail "/usr/bin/tilvane-census is left after removal"
printf '\npackage check passed: %s\n' "$(basename "$deb")"
