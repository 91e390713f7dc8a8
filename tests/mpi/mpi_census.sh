#!/usr/bin/env bash
# tilvane-census under mpirun, end to end: the shipped lists byte-identical
# for three ranks; certificates identical to a single process's; a job
# stopped by SIGTERM to every rank resumed with two ranks; a job whose rank
# is killed (SIGKILL) resumed without MPI; a rank that hangs named by rank 0;
# a single-process checkpoint resumed by three ranks; a job on a space whose
# searches take minutes stopped at once through mpirun and through one
# rank; ranks started for
# different censuses refused; a bad command line reported once.
#
# usage: mpi_census.sh TILVANE_CENSUS SOURCE_DIR [MPIRUN]
set -euo pipefail

census="$1"
fixtures="$2/fixtures"
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
k10=(--size 10 --max-lcm 512 --space simpson)
k9=(--size 9 --max-lcm 256 --space common-multiples)
k11=(--size 11 --max-lcm 1024 --space simpson)
# The interrupted jobs start with the search's newer techniques switched off,
# so that they are surely still running after their first checkpoint; the
# resumed ones have them on (a checkpoint does not depend on them).
slow=(--without symmetry,fibres,redundant,dominance,deletions,covers,local-search,moduli-search)

step() { printf -- '--- %s\n' "$*"; }
fail() {
  printf 'FAILED: %s\n' "$*"
  for f in "$work"/*.out "$work"/*.err; do
    [ -e "$f" ] && { printf '== %s\n' "$f"; cat "$f"; }
  done
  exit 1
}

# The process ids of the given ranks among the children of the mpirun
# process, in the order asked: the rank is in each process's environment.
# One pass over /proc with shell builtins only, so that it takes
# milliseconds while the job runs on.
rank_pids() {
  local parent="$1" dir pid comm state ppid rest rank
  shift
  declare -A by_rank=()
  for dir in /proc/[0-9]*; do
    read -r pid comm state ppid rest < "$dir/stat" 2>/dev/null || continue
    [ "$ppid" = "$parent" ] || continue
    for rank in "$@"; do
      if grep -qxz "OMPI_COMM_WORLD_RANK=$rank" "$dir/environ" 2>/dev/null; then
        by_rank[$rank]="$pid"
      fi
    done
  done
  for rank in "$@"; do echo "${by_rank[$rank]:-}"; done
}

# Waits until the file exists (at most 60 s).
wait_for() {
  local i
  for i in $(seq 600); do
    [ -e "$1" ] && return 0
    sleep 0.1
  done
  fail "no $1 after 60 s"
}

# Starts an MPI job in the background (mpirun itself, not a shell around
# it, so that its ranks are its children); finish waits for it and sets
# status.
start() {
  local name="$1"
  shift
  "$mpirun_bin" --allow-run-as-root --oversubscribe "$@" > "$work/$name.out" 2> "$work/$name.err" &
  mpirun_pid=$!
}
finish() {
  status=0
  wait "$mpirun_pid" || status=$?
  mpirun_pid=""
}

decided_of() { sed -n 's/^decided //p' "$1"; }

step "three ranks: the k = 10 list and its certificates"
"$census" "${k10[@]}" --output "$work/single10.txt" --covers "$work/single10.covers" > /dev/null
mpi -np 3 "$census" "${k10[@]}" --output "$work/k10.txt" --covers "$work/k10.covers" \
  > "$work/k10.out" 2> "$work/k10.err" || fail "three ranks on k = 10"
cmp "$fixtures/k10_expected.txt" "$work/k10.txt" || fail "k = 10 list differs from the fixture"
diff -r "$work/single10.covers" "$work/k10.covers" > /dev/null || fail "certificates differ"
grep -q '^irreducible covering sets: 2102$' "$work/k10.out" || fail "k = 10 summary"
[ ! -s "$work/k10.err" ] || fail "three ranks wrote to standard error"

step "three ranks: the k = 9 list"
mpi -np 3 "$census" "${k9[@]}" --output "$work/k9.txt" > "$work/k9.out" 2> "$work/k9.err" ||
  fail "three ranks on k = 9"
cmp "$fixtures/k9_expected.txt" "$work/k9.txt" || fail "k = 9 list differs from the fixture"

step "SIGTERM to every rank after the first checkpoint, resumed with two ranks"
out="$work/term.txt"
start term -np 3 "$census" "${k11[@]}" "${slow[@]}" --output "$out" --threads 1 --checkpoint-interval 1
wait_for "$out.checkpoint"
pids="$(rank_pids "$mpirun_pid" 0 1 2)"
[ "$(echo $pids | wc -w)" = 3 ] || fail "ranks not found: $pids"
kill -TERM $pids
finish
[ "$status" = 75 ] || fail "stopped job exited with $status, not 75"
grep -q "^stopped after .* checkpoint written to $out.checkpoint" "$work/term.err" ||
  fail "no stop report"
decided="$(decided_of "$out.checkpoint")"
[ "$decided" -gt 0 ] && [ "$decided" -lt 343875 ] || fail "checkpoint holds $decided candidates"
mpi -np 2 "$census" "${k11[@]}" --output "$out" --threads 1 > "$work/term2.out" ||
  fail "resume with two ranks"
cmp "$fixtures/k11_expected.txt" "$out" || fail "resumed list differs from the fixture"
[ ! -e "$out.checkpoint" ] || fail "checkpoint left after the resumed run"

step "SIGKILL to rank 1: the job fails naming it; a single process resumes"
out="$work/kill.txt"
start kill -np 3 "$census" "${k11[@]}" "${slow[@]}" --output "$out" --threads 1 --checkpoint-interval 1
wait_for "$out.checkpoint"
killed="$(rank_pids "$mpirun_pid" 1)"
[ -n "$killed" ] || fail "rank 1 not found"
kill -KILL "$killed"
finish
[ "$status" != 0 ] || fail "job with a killed rank succeeded"
grep -q "rank 1 .*exited on signal 9" "$work/kill.err" || fail "the killed rank is not named"
[ ! -e "$out" ] || fail "output written by a failed job"
"$census" "${k11[@]}" --output "$out" > "$work/kill2.out" 2> "$work/kill2.err" ||
  fail "single-process resume"
cmp "$fixtures/k11_expected.txt" "$out" || fail "resumed list differs from the fixture"

step "a rank that hangs is named by rank 0; two ranks resume"
out="$work/hang.txt"
start hang -np 3 "$census" "${k11[@]}" "${slow[@]}" --output "$out" --threads 1 --checkpoint-interval 1 \
  --rank-timeout 5
wait_for "$out.checkpoint"
hung="$(rank_pids "$mpirun_pid" 2)"
[ -n "$hung" ] || fail "rank 2 not found"
kill -STOP "$hung"
finish
kill -KILL "$hung" 2>/dev/null || true
[ "$status" != 0 ] || fail "job with a hung rank succeeded"
grep -q "^tilvane-census: rank 2 has sent nothing for 5 s while deciding candidates" \
  "$work/hang.err" || fail "the hung rank is not named"
mpi -np 2 "$census" "${k11[@]}" --output "$out" > "$work/hang2.out" || fail "resume after a hang"
cmp "$fixtures/k11_expected.txt" "$out" || fail "resumed list differs from the fixture"

step "a single process's checkpoint resumed by three ranks"
out="$work/plain.txt"
"$census" "${k11[@]}" "${slow[@]}" --output "$out" --threads 1 --checkpoint-interval 1 \
  > "$work/plain.out" 2> "$work/plain.err" &
plain_pid=$!
wait_for "$out.checkpoint"
kill -TERM "$plain_pid"
status=0
wait "$plain_pid" || status=$?
[ "$status" = 75 ] || fail "stopped single process exited with $status, not 75"
mpi -np 3 "$census" "${k11[@]}" --output "$out" > "$work/plain2.out" || fail "MPI resume"
cmp "$fixtures/k11_expected.txt" "$out" || fail "resumed list differs from the fixture"

step "on a space whose searches take minutes: a stop through mpirun (SIGUSR1) and to one rank"
# mpirun forwards SIGUSR1 to every rank (SIGTERM and SIGINT make it end the
# job itself and report 1); each rank abandons its searches and the job
# reports 75 within seconds. Then one rank alone is signalled, as a rank
# whose node is going down: the others are halted with it.
slow_space=(--size 6 --max-lcm 1000000 --space common-multiples)
out="$work/slow.txt"
for how in mpirun rank; do
  start "slow-$how" -np 2 "$census" "${slow_space[@]}" --output "$out" --threads 1
  wait_for "$out.checkpoint.lock"
  sleep 2
  signalled=$(date +%s%N)
  if [ "$how" = mpirun ]; then
    kill -USR1 "$mpirun_pid"
  else
    kill -TERM "$(rank_pids "$mpirun_pid" 1)"
  fi
  finish
  took=$(( ($(date +%s%N) - signalled) / 1000000 ))
  [ "$status" = 75 ] || fail "slow space stopped through $how exited with $status, not 75"
  [ "$took" -lt 10000 ] || fail "slow space took $took ms to stop through $how"
  grep -q "^stopped after .* checkpoint written to $out.checkpoint" "$work/slow-$how.err" ||
    fail "no stop report through $how"
  echo "    stopped through $how in $took ms"
done
[ ! -e "$out.checkpoint.lock" ] || fail "lock left after the stops"

step "ranks started for different censuses are refused"
# In the work folder: rank 0 keeps its default checkpoint beside it.
status=0
(cd "$work" && mpi -np 1 "$census" --size 8 --max-lcm 128 --space common-multiples : \
  -np 1 "$census" --size 8 --max-lcm 64 --space common-multiples) \
  > "$work/mixed.out" 2> "$work/mixed.err" || status=$?
[ "$status" != 0 ] || fail "mixed censuses succeeded"
grep -q "^tilvane-census: rank 1 was started for another census" "$work/mixed.err" ||
  fail "mixed censuses not reported"

step "a bad command line is reported once"
status=0
mpi -np 3 "$census" --size 0 --max-lcm 512 > "$work/bad.out" 2> "$work/bad.err" || status=$?
[ "$status" = 1 ] || fail "bad command line exited with $status"
[ "$(grep -c '^tilvane-census: ' "$work/bad.err")" = 1 ] || fail "not exactly one error line"

rm -f "$work"/*.out "$work"/*.err
echo "all MPI cases passed"
