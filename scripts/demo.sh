#!/usr/bin/env bash
# Compacts the bundled sample documents into a fresh folder through the
# real program and prints its result lines and summary.
set -euo pipefail
exe=${1:-build/bin/leafpress}
here=$(cd "$(dirname "$0")/.." && pwd)
src="$here/examples/documents"
out="$here/build/demo-output"
rm -rf "$out"
mkdir -p "$out"
"$exe" --version
echo "Compacting $src into $out"
"$exe" "-pPureConsole=1,Source=$src/*.doc?,Target=$out,ThreadsCount=2,LogFile=$out/run.log"
echo
ls -l "$src" "$out" | grep -v '^total'
