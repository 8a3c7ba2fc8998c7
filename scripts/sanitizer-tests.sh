#!/usr/bin/env bash
# Builds the engine, platform and runner tests with ThreadSanitizer in
# build-tsan/ and runs them (the runner's tests run the real program, built
# there with the same sanitizer), then the window's run-control tests (runs
# that are closed, destroyed, paused and stopped while workers convert), the
# document server's and the word-processor converter's tests with
# AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/. Only the
# test programs that run here, and what they start, are built. Fails when a
# test fails, when a sanitizer reports a race, a memory error, a leak or
# undefined behaviour in a test or in a program it started, or when an
# exclusion below names no test any more.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-tsan"
jobs="${LP_JOBS:-2}"

# Both sanitizer trees build each library and test program as a few large
# units (CMake's unity build) at -O1 with line tables only (-g1): the
# sanitizers' reports still name file and line, and a fresh machine builds
# both trees in a third of the time separate units with full debug
# information take. The test programs' own sources are built at -O0, which
# halves their compile time; the code under test keeps -O1.
fast_build=(-DCMAKE_UNITY_BUILD=ON -DCMAKE_UNITY_BUILD_BATCH_SIZE=16 -DLP_TEST_CODE_FLAGS=-O0)
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLP_SANITIZE=thread \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" "${fast_build[@]}" >/dev/null
cmake --build "$build" -j"$jobs" --target test_engine test_platform test_runner

export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
# Reports of the programs the tests start go to files of their own (name.pid),
# since the tests keep those programs' outputs to themselves, in a folder per
# test program run (runs may go side by side).
reports="$top/build-sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
# Qt's own libraries are not instrumented: the races the sanitizer cannot
# see through them are listed in tsan.supp.
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 suppressions=$top/scripts/tsan.supp"

# Fails the script when the program failed or a report was written.
# check_log name log status dir
check_log() {
  local name=$1 log=$2 status=$3 dir=$4
  if compgen -G "$dir/*" >/dev/null; then
    status=1
  fi
  tail -n 3 "$log"
  if [ "$status" -ne 0 ]; then
    grep -n -A40 "FAILED" "$log" | head -n 120 || true
    for r in "$dir"/*; do
      [ -e "$r" ] || continue
      echo "-- $r"
      head -n 80 "$r"
    done
    echo "$name failed (log: $log, reports: $dir)"
    exit "$status"
  fi
}

# Fails the script when a pattern of an exclusion list matches no test of exe:
# a renamed or removed test must not leave a stale name behind.
check_exclusions() {
  local exe=$1
  shift
  local pattern list
  for pattern in "$@"; do
    list=$("$exe" --gtest_list_tests --gtest_filter="$pattern")
    if ! grep -q '^  ' <<<"$list"; then
      echo "$(basename "$exe"): the exclusion $pattern names no test"
      exit 1
    fi
  done
}

# True when every report is the leak checker's own crash at exit ("Tracer
# caught signal 11 ... LeakSanitizer has encountered a fatal error"): the
# sanitizer runtime fails now and then while it stops the threads of an
# ending process, before it has looked at any memory. That is no finding of
# the tests, and the run is repeated once; any other report fails at once.
# only_tracer_crash dir
only_tracer_crash() {
  local r found=0
  for r in "$1"/*; do
    [ -e "$r" ] || return 1
    grep -q 'LeakSanitizer has encountered a fatal error' "$r" || return 1
    if grep -v -e '^Tracer caught signal' -e 'LeakSanitizer has encountered a fatal error' -e '==HINT:' -e '^$' "$r" | grep -q .; then
      return 1
    fi
    found=1
  done
  [ "$found" -eq 1 ]
}

# Runs exe with its sanitizers' reports in a folder of the run's own (named
# after its log), so that runs side by side keep theirs apart.
# run_once exe log filter dir
run_once() {
  local exe=$1 log=$2 filter=$3 dir=$4
  TSAN_OPTIONS="${TSAN_OPTIONS:-} log_path=$dir/tsan" ASAN_OPTIONS="${ASAN_OPTIONS:-} log_path=$dir/asan" \
    UBSAN_OPTIONS="${UBSAN_OPTIONS:-} log_path=$dir/ubsan" "$exe" --gtest_filter="$filter" >"$log" 2>&1
}

# run name exe log filter
run() {
  local name=$1 exe=$2 log=$3 filter=$4
  local dir
  dir="$reports/$(basename "$log" .log)"
  rm -rf "$dir"
  mkdir -p "$dir"
  echo "== $name"
  local status=0
  run_once "$exe" "$log" "$filter" "$dir" || status=1
  if [ "$status" -ne 0 ] && only_tracer_crash "$dir" && ! grep -q '^\[  FAILED  \]' "$log"; then
    echo "the leak checker crashed while the program ended (no finding); running it again"
    rm -f "$dir"/*
    status=0
    run_once "$exe" "$log" "$filter" "$dir" || status=1
  fi
  check_log "$name" "$log" "$status" "$dir"
}

# The runner's tests run the program with two and four workers over real
# documents. Left out: the one that renders every result and its source
# with LibreOffice to compare them, whose time goes to the uninstrumented
# office; its runs of the program are those of the other cases.
runner_excluded=(
  'CompactionIntegrationTest.*'
)
check_exclusions "$build/tests/runner/test_runner" "${runner_excluded[@]}"
# The engine's case that runs again as an unprivileged user starts a copy
# of the instrumented test program; after it, the sanitizer's records of
# the batch locks are wrong and later cases get races reported on data
# that is only touched under a lock (seen in NextNodeWaits..., never
# without this case). It runs in the ordinary build.
engine_excluded=(
  'BatchScanTest.FolderWithoutReadPermissionIsAFailureOfItsOwn'
)
check_exclusions "$build/tests/engine/test_engine" "${engine_excluded[@]}"
for t in engine platform runner; do
  filter='*'
  if [ "$t" = runner ]; then
    filter="-$(IFS=:; echo "${runner_excluded[*]}")"
  elif [ "$t" = engine ]; then
    filter="-$(IFS=:; echo "${engine_excluded[*]}")"
  fi
  run "test_$t under ThreadSanitizer" "$build/tests/$t/test_$t" "$build/test_$t.tsan.log" "$filter"
done

# AddressSanitizer, with its leak checker, and UndefinedBehaviorSanitizer
# (every report fatal) for the window's run control, the document server
# and the word-processor converter. A debug build (assertions on) at -O1.
asan="$top/build-asan"
cmake -S "$top" -B "$asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLP_SANITIZE=address,undefined \
  -DCMAKE_CXX_FLAGS="-O1 -fno-sanitize-recover=undefined" -DCMAKE_CXX_FLAGS_DEBUG="-g1" "${fast_build[@]}" >/dev/null
cmake --build "$asan" -j"$jobs" --target test_ui test_ooxml test_word
export ASAN_OPTIONS="detect_leaks=1 abort_on_error=0 exitcode=67"
# print_suppressions=0: a summary of the suppressions used would be a
# report file of its own.
export LSAN_OPTIONS="suppressions=$top/scripts/lsan.supp print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1 halt_on_error=1"

# The server's tests left to the ordinary run, each with its reason.
ooxml_excluded=(
  # Decodes every picture of the corpus through Qt's image plugins, which
  # are not instrumented: minutes under the sanitizers for little to see.
  'PictureCorpusTest.*'
  # Most of their time is LibreOffice's (not instrumented) opening or
  # rendering what the server saved; the server's own part of them is the
  # save that other SaveTest and ShapeTest cases make.
  'SaveTest.UnchangedBuiltDocument*'
  'SaveTest.NewDocument*'
  'ShapeTest.CompactedDocumentLooksLikeItsSource'
  # Renders one picture on many threads at once, a race check that the
  # ThreadSanitizer is for; under AddressSanitizer it only takes long.
  '*ManyThreadsAtOnce'
  # Builds a main part of more than 256 MB, which the sanitizers' shadow
  # memory multiplies beyond what a small machine has.
  '*MainPartOfMoreThan256MBOfXml'
)
check_exclusions "$asan/tests/ooxml/test_ooxml" "${ooxml_excluded[@]}"

# Two lanes side by side, one per core: the corpus case of test_word, which
# takes as long as all the others, and the other programs and cases. The
# corpus case checks the compaction of every corpus document, without the render
# check and before the LibreOffice renders, whose time is the office's.
lane_corpus() {
  LP_CORPUS_NO_RENDER=1 run "test_word's corpus case under AddressSanitizer and UndefinedBehaviorSanitizer" \
    "$asan/tests/word/test_word" "$asan/test_word-corpus.asan.log" 'CorpusCompactionTest.*'
}
lane_others() {
  run "test_ui under AddressSanitizer and UndefinedBehaviorSanitizer" "$asan/tests/ui/test_ui" \
    "$asan/test_ui.asan.log" 'RunControlTest.*:RealRunTest.*'
  run "test_ooxml under AddressSanitizer and UndefinedBehaviorSanitizer" "$asan/tests/ooxml/test_ooxml" \
    "$asan/test_ooxml.asan.log" "-$(IFS=:; echo "${ooxml_excluded[*]}")"
  run "test_word under AddressSanitizer and UndefinedBehaviorSanitizer" \
    "$asan/tests/word/test_word" "$asan/test_word.asan.log" '-CorpusCompactionTest.*'
}
lane_corpus >"$reports/lane-corpus.out" 2>&1 &
corpus_pid=$!
lane_others >"$reports/lane-others.out" 2>&1 &
others_pid=$!
corpus_status=0 others_status=0
wait "$corpus_pid" || corpus_status=$?
wait "$others_pid" || others_status=$?
cat "$reports/lane-others.out" "$reports/lane-corpus.out"
if [ "$corpus_status" -ne 0 ] || [ "$others_status" -ne 0 ]; then
  exit 1
fi
echo "sanitizer tests passed"
