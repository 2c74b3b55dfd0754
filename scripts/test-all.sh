#!/usr/bin/env bash
# Installs what is missing, builds the 64-bit and the 32-bit library with
# their tests, and runs the whole suite in both, under ASan+UBSan (with
# LeakSanitizer) and under ThreadSanitizer; then the Python module's tests,
# the Debian packages, the libFuzzer targets, the soak against a faulty
# simulated sensor, the demo under valgrind, and the same suite for Windows
# (vorex.dll under wine64, vorexd.dll built only). Needs root: discovery tests make
# private network namespaces. Prints each stage's duration and ends with one
# summary line.
set -uo pipefail
# Needs root: a user with sudo runs it through sudo.
if [ "$(id -u)" != 0 ]; then
  command -v sudo >/dev/null || { echo "$0: needs root (and sudo is not installed)" >&2; exit 1; }
  exec sudo --preserve-env=CI "$0" "$@"
fi
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
    cat "$logs/$preset.configure"; count 0 1; return 1
  fi
  if ! cmake --build --preset "$preset" -j"$jobs" >"$logs/$preset.build" 2>&1; then
    tail -n 60 "$logs/$preset.build"; count 0 1; return 1
  fi
}

# Prints what each failed test of the last ctest run in build dir $1 wrote
# (its last 60 lines), read from ctest's own record of the run: the logs
# kept here go away with the checkout.
failed_output() {
  local record=$1/Testing/Temporary/LastTest.log
  [ -f "$record" ] || { echo "no record of the tests' output in $1"; return; }
  awk -v keep=60 -v most=20 '
    reading && $0 == "<end of output>" { reading = 0; verdict = 1; next }
    reading { lines[n++] = $0; next }
    /^[0-9]+\/[0-9]+ Test: / { name = $0; sub(/^[0-9]+\/[0-9]+ Test: /, "", name); n = 0; next }
    /^Output:$/ { reading = 1; getline; next }
    verdict && (/^Test time = / || /^-+$/) { next }
    verdict {
      verdict = 0
      if ($0 == "Test Passed." || /^Test Pass Reason/ || ++failed > most) next
      print "--- " name " failed; its output" (n > keep ? " (the last " keep " of " n " lines)" : "") ":"
      for (i = (n > keep ? n - keep : 0); i < n; ++i) print "    " lines[i]
    }
    END { if (failed > most) print "--- and " (failed - most) " more failed tests" }' "$record"
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
  [ "$bad" -eq 0 ] || failed_output "build/$preset"
}

run_preset() {
  build_preset "$1" && test_preset "$1"
}

for preset in vorex vorexd asan tsan; do
  stage "$preset" run_preset "$preset"
done

# The Python module's tests (built by the vorex stage), counted from
# pytest's summary line, such as "1 failed, 22 passed in 6.1s".
python_tests() {
  PYTHONPATH=build/vorex/python PYTHONDONTWRITEBYTECODE=1 timeout 600 \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider python/tests >"$logs/pytest" 2>&1
  local summary
  summary=$(tail -n 1 "$logs/pytest")
  echo "pytest: $summary"
  grep -qE "[0-9]+ passed" <<<"$summary" && ! grep -qE "failed|error" <<<"$summary" || tail -n 60 "$logs/pytest"
  number() { grep -oE "[0-9]+ $1" <<<"$summary" | cut -d" " -f1 | head -n 1; }
  local good bad errors
  good=$(number passed) bad=$(number failed) errors=$(number "errors?")
  [ -n "$good$bad$errors" ] || bad=1
  count "${good:-0}" $((${bad:-0} + ${errors:-0}))
}
stage python python_tests

# Debian packages and lintian, then the packages as installed.
debs_built=
debs() {
  if scripts/ci-debs.sh "$jobs"; then debs_built=1; count 1 0; else count 0 1; fi
}
debs_installed() {
  [ -n "$debs_built" ] || { echo "no packages to check"; count 0 1; return; }
  scripts/ci-debs-installed.sh | tee "$logs/installed"
  local line
  line=$(grep -E "^installed-package checks:" "$logs/installed")
  [ -n "$line" ] || { count 0 1; return; }
  count "$(sed -E 's/.*: ([0-9]+) passed.*/\1/' <<<"$line")" "$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")"
}
stage debs debs
stage debs-installed debs_installed
# Each libFuzzer target for a bounded time (VOREX_FUZZ_SECONDS each).
ci_fuzz() {
  scripts/ci-fuzz.sh 2>&1 | tee "$logs/fuzz"
  local line targets bad
  line=$(grep -E "^fuzz: [0-9]+ targets, [0-9]+ failed" "$logs/fuzz" | tail -n 1)
  if [ -z "$line" ]; then count 0 1; return; fi
  targets=$(sed -E 's/^fuzz: ([0-9]+) targets, ([0-9]+) failed/\1/' <<<"$line")
  bad=$(sed -E 's/^fuzz: ([0-9]+) targets, ([0-9]+) failed/\2/' <<<"$line")
  count $((targets - bad)) "$bad"
}

# The short soak against the faulty simulated sensor, from the vorex build;
# VOREX_SOAK_OPERATIONS makes it longer.
ci_soak() {
  local rc=0
  timeout 900 ctest --test-dir build/vorex -L soak -V >"$logs/soak" 2>&1 || rc=$?
  grep -E "soak: |Failure|over bound|wrong success" "$logs/soak" | sed -E 's/^[0-9]+: //' | head -n 25
  if [ "$rc" -eq 0 ]; then count 1 0; else count 0 1; failed_output build/vorex; fi
}

ci_valgrind() {
  if scripts/ci-valgrind.sh; then count 1 0; else count 0 1; fi
}

stage fuzz ci_fuzz
stage soak ci_soak
stage valgrind ci_valgrind
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
  # The C library's exports, then the zip of both DLL families (win64 built above).
  if tests/exported_symbols.sh build/win32/src/c/vorexd_c.dll . && scripts/windows-zip.sh; then count 1 0; else count 0 1; fi
}
stage win64 run_win64
stage win32 run_win32

echo "=== all stages: $((SECONDS - started)) s"
echo "total: $passed passed, $failed failed"
exit $status
