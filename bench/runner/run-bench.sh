#!/usr/bin/env bash
# Whole runs of the real program: documents per second with one and two
# workers on the same 200 documents, and a picture-free run against cp -r
# of the same folder (the floor of per-document overhead). All figures come
# from one run of this script, side by side, since the machine is shared.
#
# bench/runner/run-bench.sh [build/bin/leafpress] [count]
set -euo pipefail
exe=$(realpath "${1:-build/bin/leafpress}")
count=${2:-200}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

/usr/bin/python3 "$here/make-documents.py" "$work/mixed" "$count"
/usr/bin/python3 "$here/make-documents.py" "$work/plain" "$count" --no-pictures
cp "$exe" "$work/leafpress"   # its usage store stays in the scratch folder

seconds() { # command... -> elapsed seconds
  local t0 t1
  t0=$(date +%s.%N)
  "$@" > /dev/null
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

run() { # source target threads
  "$work/leafpress" "-pPureConsole=1,Source=$1/*.docx,Target=$2,ThreadsCount=$3,IsOverwrite=1"
}

t1=$(seconds run "$work/mixed" "$work/out1" 1)
t2=$(seconds run "$work/mixed" "$work/out2" 2)
tp=$(seconds run "$work/plain" "$work/out3" 1)
tc=$(seconds cp -r "$work/plain" "$work/copy")

printf 'documents: %d (half with two 1600x1200 photos)\n' "$count"
printf 'ThreadsCount 1: %.2f s, %.1f documents/s\n' "$t1" "$(echo "$count / $t1" | bc -l)"
printf 'ThreadsCount 2: %.2f s, %.1f documents/s\n' "$t2" "$(echo "$count / $t2" | bc -l)"
printf 'speed-up: %.2f (goal >= 1.7 on 2 cores)\n' "$(echo "$t1 / $t2" | bc -l)"
printf 'picture-free run: %.3f s, cp -r: %.3f s, ratio %.1f (goal <= 20)\n' "$tp" "$tc" "$(echo "$tp / $tc" | bc -l)"
