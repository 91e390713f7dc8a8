#!/usr/bin/env bash
# tilvane-census under a real Slurm: starts munged, slurmctld and slurmd for
# a one-node cluster on this machine, then submits the batch script of
# README.md's "Running on a cluster" as written there, with only the census
# (k = 10, or k = 11 where a run must outlast its stop), the program's path,
# the node count and the time limit changed. Checks: the list byte-identical
# to the fixture; a job stopped by scancel while the ranks compute, then
# submitted again; a job stopped by its --signal ahead of the time limit,
# which submits itself again and resumes; a finished job submitted again
# recomputes nothing; a program that is not there fails the job at once.
#
# usage: slurm_census.sh BUILD_DIR   (as root; BUILD_DIR holds tilvane-census
# built with MPI; needs slurmctld, slurmd, slurm-client and munge)
set -euo pipefail

if [ "$#" != 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 1
fi
here="$(cd "$(dirname "$0")" && pwd)"
source_dir="$(cd "$here/../.." && pwd)"
fixtures="$source_dir/fixtures"
program="$(cd "$1" && pwd)/tilvane-census"
if [ "$(id -u)" != 0 ]; then
  echo "slurm_census.sh: run it as root: it starts munged, slurmctld and slurmd" >&2
  exit 1
fi
for tool in munged slurmctld slurmd sbatch; do
  command -v "$tool" > /dev/null || {
    echo "slurm_census.sh: $tool not found (Debian: slurmctld slurmd slurm-client munge)" >&2
    exit 1
  }
done
[ -x "$program" ] || { echo "slurm_census.sh: no $program" >&2; exit 1; }

# Everything the daemons, the jobs and Open MPI write stays in this folder.
# munged wants every folder above its socket searchable by all.
work="$(mktemp -d)"
chmod 755 "$work"
mkdir -p "$work/munge" "$work/state" "$work/spool" "$work/tmp"
chmod 755 "$work/munge"
munged_pid=""
slurmctld_pid=""
slurmd_pid=""
# Stops a daemon this script started: SIGTERM, and SIGKILL if it is still
# there after 10 s.
stop_daemon() {
  local pid="$1" state
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2> /dev/null || true
  for _ in $(seq 100); do
    read -r _ _ state _ 2> /dev/null < "/proc/$pid/stat" || break
    [ "$state" = Z ] && break
    sleep 0.1
  done
  kill -KILL "$pid" 2> /dev/null || true
  wait "$pid" 2> /dev/null || true
}
cleanup() {
  # Jobs first: slurmd leaves a job's processes running when it stops.
  if [ -n "$slurmd_pid" ]; then
    scancel --user=root 2> /dev/null || true
    for _ in $(seq 450); do
      [ -z "$(squeue -h 2> /dev/null)" ] && break
      sleep 0.1
    done
  fi
  stop_daemon "$slurmctld_pid"
  stop_daemon "$slurmd_pid"
  stop_daemon "$munged_pid"
  rm -rf "$work"
}
trap cleanup EXIT

# Nothing from a Slurm job this script may run in; the commands and the jobs
# (sbatch passes its environment on) use this cluster, and Open MPI keeps
# its session files in the work folder.
while read -r name; do
  unset "$name"
done < <(compgen -v | grep -E '^(SLURM|SBATCH|SRUN|SALLOC)_' || true)
export SLURM_CONF="$work/slurm.conf"
export TMPDIR="$work/tmp"

step() { printf -- '--- [%3d s] %s\n' "$SECONDS" "$*"; }
fail() {
  local f
  printf 'FAILED: %s\n' "$*"
  for f in "$work"/case-*/*.log "$work"/*.err "$work/slurmctld.log" "$work/slurmd.log"; do
    [ -e "$f" ] && { printf '== %s\n' "$f"; tail -n 40 "$f"; }
  done
  exit 1
}

step "starting munged, slurmctld and slurmd"
sed "s|@DIR@|$work|g" "$here/slurm.conf" > "$SLURM_CONF"
# The node's line: this machine's CPUs and memory as slurmd finds them.
slurmd -C | sed -n '1s/^NodeName=[^ ]*/NodeName=localhost NodeAddr=127.0.0.1/p' >> "$SLURM_CONF"
head -c 1024 /dev/urandom > "$work/munge/munge.key"
chmod 600 "$work/munge/munge.key"
munged --foreground --socket="$work/munge/munge.socket" --key-file="$work/munge/munge.key" \
  --pid-file="$work/munge/munged.pid" --log-file="$work/munge/munged.log" \
  --seed-file="$work/munge/munged.seed" 2> "$work/munged.err" &
munged_pid=$!
for _ in $(seq 100); do
  [ -S "$work/munge/munge.socket" ] && break
  sleep 0.1
done
slurmctld -D > "$work/slurmctld.err" 2>&1 &
slurmctld_pid=$!
slurmd -D -N localhost > "$work/slurmd.err" 2>&1 &
slurmd_pid=$!
for _ in $(seq 300); do
  [ "$(sinfo -h -n localhost -o %T 2> /dev/null)" = idle ] && break
  sleep 0.1
done
[ "$(sinfo -h -n localhost -o %T 2> /dev/null)" = idle ] || fail "the node is not idle after 30 s"

# The program as the batch script starts it: it adds the options in
# $work/options, which make the search slower without changing its answers
# or the checkpoint's identity, and notes the start once it has read them
# (a case may change them as soon as its ranks have started).
cat > "$work/census" << EOF
#!/bin/bash
options=\$(cat "$work/options")
echo "\$SLURM_JOB_ID" >> "$work/starts"
exec "$program" \$options "\$@"
EOF
chmod +x "$work/census"
: > "$work/options"
: > "$work/starts"
slow="--without symmetry,fibres,redundant,dominance,deletions,covers,local-search,moduli-search"

# The batch script of README.md: the only ```sh block of its section
# "Running on a cluster".
awk '/^## / { in_section = ($0 == "## Running on a cluster") }
     in_section && !in_block && /^```sh$/ { in_block = 1; next }
     in_block && /^```$/ { exit }
     in_block { print }' "$source_dir/README.md" > "$work/readme-job.sh"
[ "$(head -n 1 "$work/readme-job.sh")" = "#!/bin/bash" ] ||
  fail "no batch script in README.md's section \"Running on a cluster\""
grep -qx '#SBATCH --job-name=tilvane-k13' "$work/readme-job.sh" ||
  fail "README.md's batch script is not the k = 13 one"

# Writes README's script into the case's folder with the lines that begin
# with the given texts replaced (PREFIX LINE pairs); each must be there once.
# Every case has one node with two ranks of one CPU.
make_job() {
  local dir="$1" script count
  shift
  mkdir -p "$dir"
  script="$(cat "$work/readme-job.sh")"
  set -- "#SBATCH --nodes=" "#SBATCH --nodes=1" \
    "#SBATCH --ntasks-per-node=" "#SBATCH --ntasks-per-node=2" \
    "#SBATCH --cpus-per-task=" "#SBATCH --cpus-per-task=1" \
    "census=" "census=$work/census" "$@"
  while [ "$#" -ge 2 ]; do
    count="$(printf '%s\n' "$script" | awk -v p="$1" 'index($0, p) == 1' | wc -l)"
    [ "$count" = 1 ] || fail "README's batch script has $count lines beginning \"$1\""
    script="$(printf '%s\n' "$script" | awk -v p="$1" -v l="$2" '{ print (index($0, p) == 1 ? l : $0) }')"
    shift 2
  done
  printf '%s\n' "$script" > "$dir/job.sh"
}
k10=("options=(" "options=(--size 10 --max-lcm 512 --space simpson)"
  "list=" "list=k10.txt" "covers=" "covers=k10-covers")
k11=("options=(" "options=(--size 11 --max-lcm 1024 --space simpson)"
  "list=" "list=k11.txt" "covers=" "covers=k11-covers")

# Submits the case's job.sh from its folder and prints the job's id.
submit() { (cd "$1" && sbatch --parsable job.sh); }
field() { scontrol -o show job "$1" | tr ' ' '\n' | sed -n "s/^$2=//p"; }
# Waits until the job has ended and its processes are gone, at most $2 s.
# Only the final states count: a job also passes through others (COMPLETING
# while its processes end, and another for an instant as --signal is sent).
wait_job() {
  for _ in $(seq $(($2 * 10))); do
    case "$(field "$1" JobState)" in
      COMPLETED | FAILED | CANCELLED | TIMEOUT | NODE_FAIL | OUT_OF_MEMORY | PREEMPTED | BOOT_FAIL | DEADLINE)
        [ -z "$(squeue -h -j "$1" -t CG 2> /dev/null)" ] && return 0 ;;
    esac
    sleep 0.1
  done
  fail "job $1 still $(field "$1" JobState) after $2 s"
}
expect_end() {
  [ "$(field "$1" JobState) $(field "$1" ExitCode)" = "$2" ] ||
    fail "job $1 ended $(field "$1" JobState) $(field "$1" ExitCode), not $2"
}
# Waits until the job's ranks have both started, at most 60 s.
wait_started() {
  for _ in $(seq 600); do
    [ "$(grep -cx "$1" "$work/starts")" -ge 2 ] && return 0
    sleep 0.1
  done
  fail "the ranks of job $1 did not start"
}
starts_of() { grep -cx "$1" "$work/starts" || true; }
decided_of() { sed -n 's/^decided //p' "$1"; }

step "README's script: the k = 10 list"
dir="$work/case-list"
make_job "$dir" "#SBATCH --time=" "#SBATCH --time=00:05:00" "${k10[@]}"
job="$(submit "$dir")"
wait_job "$job" 120
expect_end "$job" "COMPLETED 0:0"
cmp "$fixtures/k10_expected.txt" "$dir/k10.txt" || fail "k = 10 list differs from the fixture"
[ -d "$dir/k10-covers" ] || fail "no certificates"
[ ! -e "$dir/k10.txt.checkpoint" ] || fail "checkpoint left after the list was written"
grep -qx "done: k10.txt written" "$dir/tilvane-k13-$job.log" || fail "no report of the finished job"

step "the finished job submitted again recomputes nothing"
written="$(stat -c %y "$dir/k10.txt")"
job="$(submit "$dir")"
wait_job "$job" 60
expect_end "$job" "COMPLETED 0:0"
grep -qx "k10.txt is complete; nothing to do" "$dir/tilvane-k13-$job.log" || fail "no guard line"
[ "$(starts_of "$job")" = 0 ] || fail "the program ran again"
[ "$(stat -c %y "$dir/k10.txt")" = "$written" ] || fail "the list was written again"
cmp "$fixtures/k10_expected.txt" "$dir/k10.txt" || fail "k = 10 list changed"

step "scancel while the ranks compute, then submitted again"
# k = 11 with every technique off takes about 5 minutes here; the first
# checkpoint comes after 1 s, and the job submitted again has them all on.
dir="$work/case-scancel"
make_job "$dir" "#SBATCH --time=" "#SBATCH --time=00:05:00" "${k11[@]}"
echo "$slow --checkpoint-interval 1" > "$work/options"
job="$(submit "$dir")"
for _ in $(seq 600); do
  [ -e "$dir/k11.txt.checkpoint" ] && break
  sleep 0.1
done
[ -e "$dir/k11.txt.checkpoint" ] || fail "no checkpoint after 60 s"
wait_started "$job"
: > "$work/options"
scancel "$job"
wait_job "$job" 60
[ ! -e "$dir/k11.txt" ] || fail "the job finished before scancel reached it"
[ "$(field "$job" JobState)" = CANCELLED ] || fail "job $job ended $(field "$job" JobState)"
log="$dir/tilvane-k13-$job.log"
grep -q "^stopped after .* checkpoint written to k11.txt.checkpoint" "$log" || fail "no stop report"
grep -qx "stopped by scancel or the time limit; submit again to resume from k11.txt.checkpoint" "$log" ||
  fail "the script did not report the stop"
[ -z "$(squeue -h)" ] || fail "a cancelled job submitted itself again"
decided="$(decided_of "$dir/k11.txt.checkpoint")"
[ "$decided" -gt 0 ] && [ "$decided" -lt 343875 ] || fail "checkpoint holds $decided candidates"
job="$(submit "$dir")"
wait_job "$job" 60
expect_end "$job" "COMPLETED 0:0"
grep -q "^resuming from k11.txt.checkpoint: $decided of 343875 candidates decided" \
  "$dir/tilvane-k13-$job.log" || fail "the job submitted again did not resume"
cmp "$fixtures/k11_expected.txt" "$dir/k11.txt" || fail "resumed list differs from the fixture"
[ ! -e "$dir/k11.txt.checkpoint" ] || fail "checkpoint left after the resumed job"

step "SIGTERM ahead of the time limit: the job submits itself again and resumes (k = 11)"
# Slurm's shortest limit is a minute, checked every 30 s, and --signal may
# come up to a minute early: a 2-minute job with a 60 s lead is signalled
# 30 to 60 s after it starts. k = 10 is done by then even with every
# technique off; k = 11 with them off takes about 5 minutes here, and the
# job submitted again resumes with them on.
dir="$work/case-time-limit"
make_job "$dir" "#SBATCH --time=" "#SBATCH --time=00:02:00" \
  "#SBATCH --signal=" "#SBATCH --signal=TERM@60" "${k11[@]}"
echo "$slow" > "$work/options"
job="$(submit "$dir")"
wait_started "$job"
: > "$work/options"
wait_job "$job" 150
expect_end "$job" "FAILED 75:0"
log="$dir/tilvane-k13-$job.log"
grep -q "^stopped after .* checkpoint written to k11.txt.checkpoint" "$log" || fail "no stop report"
grep -qx "stopped ahead of the time limit; submitting again to resume from k11.txt.checkpoint" "$log" ||
  fail "the script did not submit itself again"
next="$(sed -n 's/^Submitted batch job \([0-9]*\)$/\1/p' "$log")"
[ -n "$next" ] || fail "no job submitted again"
ran="$(($(date -d "$(field "$job" EndTime)" +%s) - $(date -d "$(field "$job" StartTime)" +%s)))"
echo "    signalled and stopped ${ran} s into its 120 s"
wait_job "$next" 90
expect_end "$next" "COMPLETED 0:0"
grep -q "^resuming from k11.txt.checkpoint: " "$dir/tilvane-k13-$next.log" ||
  fail "the job submitted again did not resume"
cmp "$fixtures/k11_expected.txt" "$dir/k11.txt" || fail "resumed k = 11 list differs from the fixture"
[ ! -e "$dir/k11.txt.checkpoint" ] || fail "checkpoint left after the resumed job"

step "a program that is not there fails the job at once, saying so"
dir="$work/case-no-program"
make_job "$dir" "#SBATCH --time=" "#SBATCH --time=00:05:00" "${k10[@]}" \
  "census=" "census=$work/no-such-census"
job="$(submit "$dir")"
wait_job "$job" 60
expect_end "$job" "FAILED 1:0"
grep -q "no-such-census: not found" "$dir/tilvane-k13-$job.log" || fail "no report of the missing program"

step "all Slurm cases passed"
