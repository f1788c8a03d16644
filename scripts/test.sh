#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite: once in a normal build and once
# with AddressSanitizer and UndefinedBehaviorSanitizer; then fuzzes the file readers.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

source scripts/test-services.sh
trap stop_test_services EXIT
start_test_services

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

status=0
for preset in default asan; do
  echo "== build and test: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset" -j2 || status=1
done

# The readers of hive and .reg files under mutation fuzzing, one minute each, side by side; the
# fuzzer is built with the sanitizers in the default build. Any finding fails the run.
echo "== fuzzing the file readers"
fuzz=build/default/bench/registry/fuzz_readers
$fuzz --seconds 60 --findings build/fuzz-findings hive bench/registry/corpus/hive &
hive_fuzz=$!
$fuzz --seconds 60 --findings build/fuzz-findings reg bench/registry/corpus/reg || status=1
wait $hive_fuzz || status=1
exit $status
