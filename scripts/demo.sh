#!/usr/bin/env bash
# Shows the program working on the bundled examples.
set -euo pipefail
exe=${1:-build/bin/leafpress}
"$exe" --version
echo "Compaction of the bundled examples arrives with the unattended runner."
