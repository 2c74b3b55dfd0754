#!/usr/bin/env bash
# Installs what is missing, builds the 64-bit and the 32-bit library with
# their tests, and runs the whole suite in both, under ASan+UBSan, and the
# concurrency tests under ThreadSanitizer; then the same for Windows
# (vorex.dll under wine64, vorexd.dll built only). Needs root: discovery tests make
# private network namespaces. Prints each stage's duration and ends with one
# summary line.
set -uo pipefail
cd "$(dirname "$0")/.."
scripts/setup-debian.sh || exit 1

jobs=$(nproc)
passed=0
failed=0
status=0
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT
started=$SECONDS

# Runs one named stage and prints how long it took.
stage() {
  local name=$1 t0=$SECONDS
  shift
  echo "=== $name"
  "$@"
  echo "=== $name: $((SECONDS - t0)) s"
}

# Adds a stage's test counts to the totals; any failure fails the run.
count() {
  passed=$((passed + $1))
  failed=$((failed + $2))
  [ "$2" -eq 0 ] || status=1
}

build_preset() {
  local preset=$1
  if ! cmake --preset "$preset" >"$logs/$preset.configure" 2>&1; then
    cat "$logs/$preset.configure"; status=1; return 1
  fi
  if ! cmake --build --preset "$preset" -j"$jobs" >"$logs/$preset.build" 2>&1; then
    tail -n 60 "$logs/$preset.build"; status=1; return 1
  fi
}

# Runs a configured preset's tests and counts them from ctest's summary.
test_preset() {
  local preset=$1
  shift
  timeout 1800 ctest --preset "$preset" -j"$jobs" "$@" 2>&1 | tee "$logs/$preset.test" | grep -E "^ *[0-9]+/[0-9]+ Test .*(Failed|Timeout|Exception)|tests passed|Total Test time|^\s+[0-9]+ - " || true
  local line total bad
  line=$(grep -E "tests passed, [0-9]+ tests failed out of [0-9]+" "$logs/$preset.test" | tail -n 1)
  if [ -z "$line" ]; then
    echo "$preset: no test summary"; tail -n 40 "$logs/$preset.test"; status=1; return 1
  fi
  bad=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
  total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
  count $((total - bad)) "$bad"
}

run_preset() {
  build_preset "$1" && test_preset "$1"
}

for preset in vorex vorexd asan tsan; do
  stage "$preset" run_preset "$preset"
done

# Windows: vorex.dll with the whole suite under wine64 in a private
# namespace (scripts/ci-windows.sh), vorexd.dll compiled and linked only.
run_win64() {
  build_preset win64 || return
  scripts/ci-windows.sh 2>&1 | tee "$logs/win64.test"
  local line
  line=$(grep -E "^windows: [0-9]+ passed, [0-9]+ failed$" "$logs/win64.test" | tail -n 1)
  [ -n "$line" ] || { echo "win64: no summary"; count 0 1; return; }
  count "$(awk '{ print $2 }' <<<"$line")" "$(awk '{ print $4 }' <<<"$line")"
}
run_win32() {
  build_preset win32 || return
  if tests/exported_symbols.sh build/win32/vorexd.dll; then count 1 0; else count 0 1; fi
}
stage win64 run_win64
stage win32 run_win32

echo "=== all stages: $((SECONDS - started)) s"
echo "total: $passed passed, $failed failed"
exit $status
