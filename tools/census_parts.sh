#!/usr/bin/env bash
# Runs a census in N parts, one after another, in a work folder that a later
# sitting (on this machine or another) resumes from:
#   tools/census_parts.sh DIR N BIN ARGS...
# runs BIN/tilvane-census ARGS --part I/N for every part I not yet done in
# DIR. A part is done when DIR holds
# - part-I-of-N.txt.xz, its list (compressed; xz -dc reads it),
# - part-I-of-N.summary, its summary and the lines "certificates checked: ...",
# - part-I-of-N.certificates.tar.xz, the certificates that BIN/tilvane
#   checked from scratch:
#   - a random 1% of the part's sets (at least one when it found any), each
#     checked with a budget of one node: tilvane verifies the displayed cover
#     before any search, so "irreducibility undecided after 1 search nodes"
#     (or the exhausted-budget line) means the cover holds;
#   - a random 1 in FULL_CHECK_ONE_IN (by default 100000; at least one),
#     each checked in full: the cover and the irreducibility, with the
#     node-exact search and a budget of 1e11 nodes. A full check of a k = 13
#     set costs up to 18 s (1.2e9 nodes) and one of a k = 14 set about
#     4 minutes, so a full check of 1% of the sets would take days; k = 14
#     runs with FULL_CHECK_ONE_IN=10000000, one set a part.
#   The checks run on all cores (CHECK_JOBS, by default nproc).
# An unfinished part's checkpoint is DIR/part-I-of-N.checkpoint. When every
# part is done the parts are merged into DIR/whole.txt (written again by each
# merge). A part whose list exists from before is decided again, and the new
# list must hold the same sets; so is a list whose certificates are gone.
# Stops at the first part that does not finish (75: stopped, rerun to go on;
# anything else: a failure), with that part's status.
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 DIR N BIN ARGS..." >&2
  exit 1
fi
dir=$1 parts=$2 bin=$3
shift 3
census="$bin/tilvane-census"
# The node-exact search's budget for a certificate: k = 12 sets took up to
# 1.1e8 nodes, and some k = 13 sets take more than 1e9.
budget=100000000000
tilvane="$bin/tilvane"
jobs=${CHECK_JOBS:-$(nproc)}
full_one_in=${FULL_CHECK_ONE_IN:-100000}
case "$full_one_in" in
  '' | *[!0-9]* | 0) echo "$0: FULL_CHECK_ONE_IN must be a positive whole number" >&2; exit 1 ;;
esac
for program in "$census" "$tilvane"; do
  [ -x "$program" ] || { echo "$0: $program is not an executable" >&2; exit 1; }
done
mkdir -p "$dir"
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT

# Checks part $1's list against an earlier one and its certificates, keeps
# the checked certificates and compresses the list.
check_part() {
  local i=$1
  local name="$dir/part-$i-of-$parts"
  local covers="$name.certificates"
  local work="$scratch/check"
  rm -rf "$work" && mkdir "$work"
  # The sets, not the header: that holds the time and the node count of
  # the run that wrote it.
  if [ -e "$name.txt.xz" ] &&
    ! cmp -s <(xz -dc "$name.txt.xz" | grep -v '^#') <(grep -v '^#' "$name.txt"); then
    echo "part $i of $parts: the sets differ from those in $name.txt.xz" >&2
    exit 1
  fi
  # The chosen certificates are the same for the same part.
  find "$covers" -name '*.txt' | sort > "$work/all"
  awk -v seed="$i" 'BEGIN { srand(seed) } rand() < 0.01' "$work/all" > "$work/cover"
  awk -v seed="$((i + 1000000))" -v n="$full_one_in" 'BEGIN { srand(seed) } rand() * n < 1' \
    "$work/all" > "$work/full"
  # A part whose draw chose none checks one certificate drawn at random.
  local count chosen
  count=$(wc -l < "$work/all")
  for chosen in cover full; do
    [ -s "$work/$chosen" ] || [ "$count" = 0 ] ||
      awk -v seed="$((i + 2000000))" -v n="$count" \
        'BEGIN { srand(seed); pick = int(rand() * n) + 1 } NR == pick' \
        "$work/all" > "$work/$chosen"
  done
  rm -f "$work/failed"
  # One check: tilvane on the certificate with the given budget; prints the
  # certificate and tilvane's answer to standard output when it fails.
  check='
    answer=$("$0" "$2" --max-nodes "$1" 2>&1) && status=0 || status=$?
    case "$1:$status:$answer" in
      1:1:"FAIL: irreducibility undecided after 1 search nodes; no PASS") ;;
      1:1:"FAIL: irreducibility search exhausted the global budget of 1 nodes") ;;
      *:0:PASS:*) ;;
      *) echo "certificate $2 fails: $answer"; exit 1 ;;
    esac'
  for chosen in cover full; do
    [ "$chosen" = cover ] && nodes=1 || nodes=$budget
    xargs -r -a "$work/$chosen" -n 1 -P "$jobs" bash -c "$check" "$tilvane" "$nodes" \
      >> "$work/failed" || true
  done
  if [ -s "$work/failed" ]; then
    echo "part $i of $parts: $(cat "$work/failed")" >&2
    exit 1
  fi
  kept="$work/kept"
  rm -rf "$kept" && mkdir "$kept"
  sort -u "$work/cover" "$work/full" | xargs -r cp -t "$kept"
  all=$(wc -l < "$work/all")
  grep -v '^certificates checked: ' "$name.summary" > "$work/summary" || true
  {
    echo "certificates checked: $(wc -l < "$work/cover") of $all for the cover (budget 1), all pass"
    echo "certificates checked: $(wc -l < "$work/full") of $all in full (node-exact, budget $budget), all pass"
  } >> "$work/summary"
  mv "$work/summary" "$name.summary"
  tar -C "$kept" -cf - . | xz -9 > "$name.certificates.tar.xz"
  xz -9 -f "$name.txt"
  rm -rf "$covers"
}

# The check of the part decided last, if one runs; fails when it failed.
checking=""
finish_check() {
  [ -z "$checking" ] && return 0
  local status=0
  wait "$checking" || status=$?
  checking=""
  return "$status"
}

for ((i = 1; i <= parts; i++)); do
  name="$dir/part-$i-of-$parts"
  [ -e "$name.txt.xz" ] && [ -e "$name.certificates.tar.xz" ] && continue
  echo "$(date -u +%FT%TZ) part $i of $parts" >&2
  # The list and the certificates are written into DIR, so that a sitting
  # that ends while they are checked loses nothing: the rerun goes straight
  # to the check.
  covers="$name.certificates"
  if [ ! -e "$name.txt" ] || [ -e "$name.checkpoint" ] || [ ! -d "$covers" ]; then
    status=0
    "$census" "$@" --part "$i/$parts" --output "$name.txt" --covers "$covers" \
      --checkpoint "$name.checkpoint" > "$name.summary.new" || status=$?
    if [ "$status" != 0 ]; then
      echo "part $i of $parts ended with status $status" >&2
      finish_check || exit 1
      exit "$status"
    fi
    mv "$name.summary.new" "$name.summary"
  fi
  finish_check || exit 1
  check_part "$i" &
  checking=$!
done
finish_check || exit 1

lists=()
for ((i = 1; i <= parts; i++)); do
  xz -dc "$dir/part-$i-of-$parts.txt.xz" > "$scratch/part-$i.txt"
  lists+=("$scratch/part-$i.txt")
done
"$census" --merge "${lists[@]}" --output "$dir/whole.txt" | tee "$dir/whole.summary"
