#!/usr/bin/env bash
# Fuzz smoke runs: builds the fuzz targets of tests/fuzzing with clang
# (libFuzzer, address and undefined-behaviour sanitizers) in build/fuzz,
# replays each seed corpus, then fuzzes each target for a bounded time.
#
#   TILVANE_FUZZ_SECONDS  seconds per target (default 60)
#   TILVANE_FUZZ_TARGETS  targets to run (default: all four)
#
# New inputs go to build/fuzz/corpus/<target> (the committed seeds are only
# read); an input that breaks a property or crashes is written to
# build/fuzz/artifacts/<target>/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

seconds="${TILVANE_FUZZ_SECONDS:-60}"
targets="${TILVANE_FUZZ_TARGETS:-candidate_parser fixture_parser quoted run}"
build="$root/build/fuzz"
jobs="${CMAKE_BUILD_PARALLEL_LEVEL:-2}"

# Warnings are the business of the GCC builds; the clang build here only
# hunts faults, so flags meant for GCC (such as -Werror) are not passed on.
unset CXXFLAGS
CC=clang CXX=clang++ cmake -S . -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTILVANE_FUZZ=ON -DTILVANE_BUILD_TESTS=OFF -DTILVANE_BUILD_BENCH=OFF >/dev/null

build_targets=()
for target in $targets; do build_targets+=("fuzz_$target" "fuzz_${target}_replay"); done
cmake --build "$build" --parallel "$jobs" --target "${build_targets[@]}"

for target in $targets; do
  seeds="$root/tests/fuzzing/corpus/$target"
  corpus="$build/corpus/$target"
  artifacts="$build/artifacts/$target/"
  mkdir -p "$corpus" "$artifacts"
  dict=()
  if [ -f "$root/tests/fuzzing/$target.dict" ]; then
    dict=("-dict=$root/tests/fuzzing/$target.dict")
  fi

  printf '\n--- %s: seed corpus replay ---\n' "$target"
  "$build/tests/fuzzing/fuzz_${target}_replay" "$seeds" 2>&1 | tail -n 1

  printf -- '--- %s: fuzzing for %s s ---\n' "$target" "$seconds"
  "$build/tests/fuzzing/fuzz_$target" "$corpus" "$seeds" "${dict[@]}" \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
    -artifact_prefix="$artifacts" -print_final_stats=1 2>"$build/fuzz_$target.log" || {
    tail -n 40 "$build/fuzz_$target.log"
    echo "fuzz_$target failed; the input is in $artifacts" >&2
    exit 1
  }
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$build/fuzz_$target.log" || true
  grep -E 'cov: [0-9]+' "$build/fuzz_$target.log" | tail -n 1 || true
done
printf '\nfuzz smoke runs passed: %s (%s s each)\n' "$targets" "$seconds"
