#!/usr/bin/env bash
# Runs a census in N parts, one after another, in a work folder that a later
# sitting (on this machine or another) resumes from:
#   tools/census_parts.sh DIR N PROGRAM ARGS...
# runs PROGRAM ARGS --part I/N for every part I whose list is not yet in DIR.
# A finished part's list is kept compressed, DIR/part-I-of-N.txt.xz; an
# unfinished part's checkpoint is DIR/part-I-of-N.checkpoint. When every part
# is done, the parts are merged into DIR/whole.txt (written again by
# each merge).
# Stops at the first part that does not finish (a stop, a failure), with that
# part's status; rerun the same command to go on.
set -euo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 DIR N PROGRAM ARGS..." >&2
  exit 1
fi
dir=$1 parts=$2 program=$3
shift 3
mkdir -p "$dir"
for ((i = 1; i <= parts; i++)); do
  name="$dir/part-$i-of-$parts"
  [ -e "$name.txt.xz" ] && continue
  echo "$(date -u +%FT%TZ) part $i of $parts" >&2
  status=0
  "$program" "$@" --part "$i/$parts" --output "$name.txt" --checkpoint "$name.checkpoint" \
    > "$name.summary" || status=$?
  if [ "$status" != 0 ]; then
    echo "part $i of $parts ended with status $status; rerun to go on" >&2
    exit "$status"
  fi
  xz -9 "$name.txt"
done
merged="$(mktemp -d)"
trap 'rm -rf "$merged"' EXIT
lists=()
for ((i = 1; i <= parts; i++)); do
  xz -dc "$dir/part-$i-of-$parts.txt.xz" > "$merged/part-$i.txt"
  lists+=("$merged/part-$i.txt")
done
"$program" --merge "${lists[@]}" --output "$dir/whole.txt" | tee "$dir/whole.summary"
