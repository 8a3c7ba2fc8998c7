#!/usr/bin/env bash
# Times, side by side in one run, this program's whole run over the corpus's
# legacy .doc files (one worker; DocToDocx True, then False) and LibreOffice's
# own one-by-one conversion of the same files (soffice --headless --convert-to
# docx, one process per file, with a warmed private profile), and prints the
# ratios.
# Usage: bench/legacy/run-bench.sh [build-dir] [corpus-dir]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build}
corpus=${2:-$here/../../../shared/corpus}
[ -d "$corpus" ] || corpus=/work/shared/corpus
exe=$build/bin/leafpress
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in" "$work/convert" "$work/tmp"
while IFS=$'\t' read -r rel _; do
  case $rel in *.doc) cp "$corpus/$rel" "$work/in/${rel//\//__}" ;; esac
done < <(tail -n +2 "$corpus/MANIFEST.tsv")
count=$(ls "$work/in" | wc -l)

now() { date +%s.%N; }
run() { # DocToDocx value
  rm -rf "$work/out"
  local t0; t0=$(now)
  TMPDIR=$work/tmp QT_QPA_PLATFORM=offscreen "$exe" \
    "-pPureConsole=1,ThreadsCount=1,IsOverwrite=1,DocToDocx=$1,Source=$work/in/*.doc?,Target=$work/out,LogFile=$work/run$1.log" > /dev/null
  echo "$(now) - $t0" | bc
}
profile=file://$work/profile
# The profile is written once, outside the timing, as a kept instance would have it.
soffice -env:UserInstallation="$profile" --headless --convert-to docx --outdir "$work/warm" "$work/in/$(ls "$work/in" | head -1)" > /dev/null 2>&1 || true
t0=$(now)
for f in "$work"/in/*.doc; do
  timeout 120 soffice -env:UserInstallation="$profile" --headless --convert-to docx --outdir "$work/convert" "$f" > /dev/null 2>&1 || true
done
oneByOne=$(echo "$(now) - $t0" | bc)
withDocx=$(run 1)
withDoc=$(run 0)
printf 'legacy .doc files: %d (%s)\n' "$count" "$corpus"
printf 'soffice --convert-to docx, one by one: %8.1f s\n' "$oneByOne"
printf 'leafpress, DocToDocx=True:            %8.1f s  ratio %.2f (goal <= 1.00)\n' "$withDocx" "$(echo "$withDocx / $oneByOne" | bc -l)"
printf 'leafpress, DocToDocx=False:           %8.1f s  ratio %.2f (goal <= 1.50)\n' "$withDoc" "$(echo "$withDoc / $oneByOne" | bc -l)"
printf 'successes: %s (True), %s (False)\n' "$(grep -c '^Success' "$work/run1.log")" "$(grep -c '^Success' "$work/run0.log")"
