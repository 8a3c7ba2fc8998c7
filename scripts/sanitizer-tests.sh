#!/usr/bin/env bash
# Builds the engine and platform tests with ThreadSanitizer in build-tsan/
# and runs them, then the window's run-control tests (runs that are closed,
# destroyed, paused and stopped while workers convert), the document
# server's and the word-processor converter's tests with AddressSanitizer
# and UndefinedBehaviorSanitizer in build-asan/. Fails when a test fails or
# a sanitizer reports a race, a memory error, a leak or undefined behaviour.
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

# AddressSanitizer, with its leak checker, and UndefinedBehaviorSanitizer
# (every report fatal) for the window's run control, the document server
# and the word-processor converter. A debug build at -O1: it compiles in a
# few minutes on two cores and the tests run in about as long. The server's
# tests that mostly wait for LibreOffice or python-docx, and the one that
# builds a 270 MB part, are left to the ordinary run.
asan="$top/build-asan"
cmake -S "$top" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLP_SANITIZE=address,undefined \
  -DCMAKE_CXX_FLAGS="-O1 -fno-sanitize-recover=undefined" >/dev/null
cmake --build "$asan" -j"$jobs" --target test_ui test_ooxml test_word
export ASAN_OPTIONS="detect_leaks=1 abort_on_error=0 exitcode=67"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"
asan_pattern="ERROR: AddressSanitizer\|ERROR: LeakSanitizer\|runtime error:"

run_asan() {
  local t=$1 filter=$2
  local log="$asan/test_$t.asan.log"
  echo "== test_$t under AddressSanitizer and UndefinedBehaviorSanitizer"
  local status=0
  "$asan/tests/$t/test_$t" --gtest_filter="$filter" >"$log" 2>&1 || status=1
  check_log "test_$t under AddressSanitizer" "$log" "$status" "$asan_pattern"
}

run_asan ui 'RunControlTest.*:RealRunTest.*'
run_asan ooxml '-CorpusCompactionTest.*:PictureCorpusTest.*:SaveTest.UnchangedBuiltDocument*:SaveTest.NewDocument*:ShapeTest.AnchoredPictureComesBackInline:ShapeTest.CompactedDocumentLooksLikeItsSource:*ManyThreadsAtOnce:*MainPartOfMoreThan256MBOfXml:*PictureShownInTwoThousandPlaces'
LP_CORPUS_NO_RENDER=1 run_asan word '*'
echo "sanitizer tests passed"
