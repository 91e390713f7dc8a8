#!/usr/bin/env bash
# One moduli set decided under mpirun, end to end: the refutation trace of
# three ranks byte-identical to a single process's and verified by the
# checker; a covering identical to a single process's; a job stopped through
# mpirun (SIGUSR1) resumed by a single process to the same end.
#
# usage: mpi_moduli.sh TILVANE_CENSUS TILVANE_PROOF_CHECK [MPIRUN]
set -euo pipefail

census="$1"
checker="$2"
mpirun_bin="${3:-mpirun}"
work="$(mktemp -d)"
mpirun_pid=""
cleanup() {
  if [ -n "$mpirun_pid" ]; then kill -KILL "$mpirun_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Root needs --allow-run-as-root; more ranks than cores need --oversubscribe.
mpi() { "$mpirun_bin" --allow-run-as-root --oversubscribe "$@"; }
step() { printf -- '--- %s\n' "$*"; }
fail() {
  printf 'FAILED: %s\n' "$*"
  for f in "$work"/*.out "$work"/*.err; do
    [ -e "$f" ] && { printf '== %s\n' "$f"; cat "$f"; }
  done
  exit 1
}
# Runs a command that exits with the given status.
expect() {
  local want="$1" status=0
  shift
  "$@" || status=$?
  [ "$status" = "$want" ] || fail "$* exited with $status, not $want"
}

d240=(--divisors-of 240 --min-modulus 4)
step "three ranks refute D(240, 4) with the trace of one process"
expect 20 "$census" "${d240[@]}" --threads 1 --proof "$work/single.txt" > /dev/null 2>&1
expect 20 mpi -np 3 "$census" "${d240[@]}" --threads 1 --proof "$work/three.txt" \
  > "$work/three.out" 2> "$work/three.err"
cmp "$work/single.txt" "$work/three.txt" || fail "three ranks wrote another trace"
"$checker" "$work/three.txt" > "$work/check.out" || fail "the checker refused the trace"
grep -q "subproblems on 3 ranks of 1 thread" "$work/three.err" || fail "no cluster summary"
[ ! -e "$work/three.txt.pieces" ] || fail "trace pieces left behind"

step "three ranks find the covering of D(360, 4) that one process finds"
expect 10 "$census" --divisors-of 360 --min-modulus 4 --threads 2 > "$work/single.out" 2> /dev/null
expect 10 mpi -np 3 "$census" --divisors-of 360 --min-modulus 4 --threads 1 \
  > "$work/cover.out" 2> "$work/cover.err"
cmp "$work/single.out" "$work/cover.out" || fail "three ranks found another covering"

step "a job stopped through mpirun (SIGUSR1) resumed by one process"
# D(720, 5) without 24, searched without orbit branching and the local
# search (which settle it at once): about 2.3 million nodes, several seconds.
set720="5 6 8 9 10 12 15 16 18 20 30 36 40 45 48 60 72 80 90 120 144 180 240 360 720"
slow=(--without orbits,local-search)
proof="$work/stopped.txt"
"$mpirun_bin" --allow-run-as-root --oversubscribe -np 2 "$census" --moduli "$set720" \
  "${slow[@]}" --threads 1 --proof "$proof" > "$work/stop.out" 2> "$work/stop.err" &
mpirun_pid=$!
# The trace's pieces appear once the ranks search (at most 60 s on a busy
# machine); a signal before that would stop the job while it starts.
for _ in $(seq 600); do
  [ -d "$proof.pieces" ] && break
  sleep 0.1
done
[ -d "$proof.pieces" ] || fail "the ranks did not start searching within 60 s"
sleep 1
kill -USR1 "$mpirun_pid"
status=0
wait "$mpirun_pid" || status=$?
mpirun_pid=""
[ "$status" = 75 ] || fail "the stopped job exited with $status, not 75"
grep -q "^checkpoint written to $proof.checkpoint" "$work/stop.err" || fail "no checkpoint"
expect 20 "$census" --moduli "$set720" "${slow[@]}" --threads 2 --proof "$proof" > /dev/null \
  2> "$work/resume.err"
grep -q "^resuming from $proof.checkpoint" "$work/resume.err" || fail "did not resume"
# The node count of the whole search, as one uninterrupted process counts it.
grep -q "^no covering: 2305628 nodes" "$work/resume.err" || fail "resumed node count"
# One line per node, and the header, the moduli and the end.
[ "$(grep -c '' "$proof")" = 2305631 ] || fail "resumed trace has another length"
[ ! -e "$proof.checkpoint" ] && [ ! -e "$proof.pieces" ] || fail "checkpoint or pieces left"
echo "all moduli cluster checks passed"
