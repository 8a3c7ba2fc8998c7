#!/usr/bin/env bash
# Runs every fuzz target for a fixed time: scripts/fuzz.sh [seconds], 60 by
# default. Builds the libFuzzer programs with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, seeds each target from the
# shared corpus and from the test package builder, and prints each target's
# executions per second. Fails when a target finds anything; the input is
# left in build-fuzz/findings/ (keep it under fuzz/regressions/<target>/,
# where the tests replay it, once the fault is fixed).
set -euo pipefail

seconds="${1:-60}"
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-fuzz"
jobs="${LP_JOBS:-2}"
corpus="${LP_CORPUS_DIR:-$top/../shared/corpus}"
[ -d "$corpus" ] || corpus=/work/shared/corpus
# LP_FUZZ_TARGETS="picture_recode mask" runs only those.
targets=(${LP_FUZZ_TARGETS:-package picture_info picture_render picture_recode document_xml mask})

"$top/scripts/install-deps.sh"
export CC=clang CXX=clang++
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLP_BUILD_TESTS=OFF -DLP_FUZZ=ON \
  -DLP_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS="-fno-sanitize-recover=undefined" >/dev/null
cmake --build "$build" -j"$jobs" --target "${targets[@]/#/fuzz_}"

# Seeds made by the tests' builder come from the normal build.
normal="$top/build"
unset CC CXX
[ -f "$normal/build.ninja" ] || cmake -S "$top" -B "$normal" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$normal" -j"$jobs" --target fuzz_seeds >/dev/null
seeds="$build/seeds"
rm -rf "$seeds"
"$normal/fuzz/fuzz_seeds" "$seeds"

# Real documents: the packages themselves, their main parts and pictures.
if [ -d "$corpus" ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  n=0
  while IFS= read -r -d '' doc; do
    n=$((n + 1))
    [ "$(stat -c %s "$doc")" -le 2000000 ] && cp "$doc" "$seeds/package/corpus$n"
    unzip -p "$doc" word/document.xml >"$seeds/document_xml/corpus$n" 2>/dev/null || rm -f "$seeds/document_xml/corpus$n"
    rm -rf "$tmp/x" && mkdir "$tmp/x"
    unzip -q -o "$doc" 'word/media/*' -d "$tmp/x" 2>/dev/null || true
    m=0
    while IFS= read -r -d '' pic; do
      m=$((m + 1))
      if [ "$(stat -c %s "$pic")" -le 1000000 ]; then
        cp "$pic" "$seeds/picture_info/corpus$n-$m"
        cp "$pic" "$seeds/picture_render/corpus$n-$m"
        cp "$pic" "$seeds/picture_recode/corpus$n-$m"
      fi
    done < <(find "$tmp/x" -type f -print0)
  done < <(find "$corpus" -type f \( -name '*.docx' -o -name '*.docm' -o -name '*.dotx' \) -print0)
fi

findings="$build/findings"
mkdir -p "$findings"
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1"
export QT_QPA_PLATFORM=offscreen LC_ALL=C.UTF-8
status=0
summary=()
for t in "${targets[@]}"; do
  work="$build/corpus/$t"
  mkdir -p "$work"
  log="$build/fuzz_$t.log"
  echo "== fuzz_$t for $seconds s"
  rc=0
  (cd "$build" && "$build/fuzz/fuzz_$t" "$work" "$seeds/$t" -max_total_time="$seconds" -timeout=10 \
     -rss_limit_mb=2560 -max_len=262144 -print_final_stats=1 -artifact_prefix="$findings/$t-" >"$log" 2>&1) || rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  summary+=("$(printf '%-15s %10s runs %8s exec/s' "$t" "${runs:-?}" "${rate:-?}")")
  if [ "$rc" -ne 0 ]; then
    status=1
    grep -n -B2 -A30 "ERROR:\|runtime error:\|Test unit written" "$log" | head -n 60 || tail -n 30 "$log"
    echo "fuzz_$t found something (log: $log)"
  fi
done
printf '%s\n' "${summary[@]}"
exit "$status"
