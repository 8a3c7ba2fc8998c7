#!/usr/bin/env bash
# Builds the engine and platform tests with ThreadSanitizer in build-tsan/
# and runs them. Fails when a test fails or the sanitizer reports a race.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-tsan"
jobs="${LP_JOBS:-2}"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLP_SANITIZE=thread >/dev/null
cmake --build "$build" -j"$jobs" --target test_engine test_platform

export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
# Qt's own libraries are not instrumented: the races the sanitizer cannot
# see through them are listed in tsan.supp.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$top/scripts/tsan.supp"

status=0
for t in engine platform; do
  exe="$build/tests/$t/test_$t"
  log="$build/test_$t.tsan.log"
  echo "== test_$t under ThreadSanitizer"
  if ! "$exe" >"$log" 2>&1; then
    status=1
  fi
  if grep -q "WARNING: ThreadSanitizer" "$log"; then
    status=1
  fi
  tail -n 3 "$log"
  if [ "$status" -ne 0 ]; then
    grep -n -A40 "WARNING: ThreadSanitizer\|FAILED" "$log" | head -n 120 || true
    echo "test_$t failed under ThreadSanitizer (log: $log)"
    exit "$status"
  fi
done
echo "sanitizer tests passed"
