#!/usr/bin/env bash
# Builds the engine and platform tests with ThreadSanitizer in build-tsan/
# and runs them, then the window's run-control tests (runs that are closed,
# destroyed, paused and stopped while workers convert) with AddressSanitizer
# in build-asan/. Fails when a test fails or a sanitizer reports a race, a
# memory error or a leak.
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

# Fails the script when the program failed or its log holds a report.
# check_log name log status pattern
check_log() {
  local name=$1 log=$2 status=$3 pattern=$4
  if grep -q "$pattern" "$log"; then
    status=1
  fi
  tail -n 3 "$log"
  if [ "$status" -ne 0 ]; then
    grep -n -A40 "$pattern\|FAILED" "$log" | head -n 120 || true
    echo "$name failed (log: $log)"
    exit "$status"
  fi
}

for t in engine platform; do
  exe="$build/tests/$t/test_$t"
  log="$build/test_$t.tsan.log"
  echo "== test_$t under ThreadSanitizer"
  status=0
  "$exe" >"$log" 2>&1 || status=1
  check_log "test_$t under ThreadSanitizer" "$log" "$status" "WARNING: ThreadSanitizer"
done

# AddressSanitizer, with its leak checker, for the window's run control. A
# debug build: it compiles in about a minute on two cores and the tests run
# in seconds.
asan="$top/build-asan"
cmake -S "$top" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLP_SANITIZE=address >/dev/null
cmake --build "$asan" -j"$jobs" --target test_ui
log="$asan/test_ui.asan.log"
echo "== test_ui run control under AddressSanitizer"
status=0
ASAN_OPTIONS="detect_leaks=1 abort_on_error=0 exitcode=67" \
  "$asan/tests/ui/test_ui" --gtest_filter='RunControlTest.*:RealRunTest.*' >"$log" 2>&1 || status=1
check_log "test_ui under AddressSanitizer" "$log" "$status" "ERROR: AddressSanitizer\|ERROR: LeakSanitizer"
echo "sanitizer tests passed"
