#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan and UBSan) and runs each for a
# bounded time from its checked-in corpus, printing the executions reached.
# VOREX_FUZZ_SECONDS sets the time per target (default 20, about 2.5 min
# for all); any crash fails the run and leaves its input in build/fuzz/crashes.
#   VOREX_FUZZ_SECONDS=3600 scripts/ci-fuzz.sh    # the long run
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${VOREX_FUZZ_SECONDS:-20}
targets=(fuzz_profile fuzz_image fuzz_maintenance fuzz_search fuzz_service fuzz_get_image fuzz_get_result)
corpus_of() { case $1 in fuzz_maintenance) echo maintenance ;; *) echo "$1" ;; esac; }

cmake --preset fuzz >/dev/null || exit 1
cmake --build --preset fuzz -j"$(nproc)" --target "${targets[@]}" >build/fuzz-build.log 2>&1 || {
  tail -n 40 build/fuzz-build.log; exit 1; }
mkdir -p build/fuzz/crashes
failed=0
for t in "${targets[@]}"; do
  work=$(mktemp -d)  # new inputs land here; the checked-in corpus stays as it is
  log=build/fuzz/$t.log
  build/fuzz/fuzz/$t -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/crashes/$t- "$work" "fuzz/corpus/$(corpus_of "$t")" >"$log" 2>&1
  rc=$?
  execs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log")
  echo "fuzz $t: ${execs:-0} executions in ${seconds} s, exit $rc"
  if [ "$rc" -ne 0 ]; then failed=$((failed + 1)); grep -E "ERROR|property broken|SUMMARY" "$log" | head -n 5; fi
  rm -rf "$work"
done
echo "fuzz: ${#targets[@]} targets, $failed failed"
[ "$failed" -eq 0 ]
