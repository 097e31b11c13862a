#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the normal build (all suites),
#   2. AddressSanitizer + UBSan (all suites),
#   3. ThreadSanitizer (the network, update-engine and document suites).
# Fails on any test failure or sanitizer report.
# The window's tests (label ui) run on Qt's offscreen platform: no display needed.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:halt_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
jobs=$(nproc)

run() {
  local preset="$1" labels="$2"; shift 2
  echo "== build: $preset"
  bash scripts/build.sh "$preset" -- "$@"
  echo "== test: $preset"
  ctest --preset "$preset" -j "$jobs" -L "$labels"
}

run release '.' all
run asan '.' all
# ThreadSanitizer watches the threads of the engine: only those suites are built.
run tsan 'net|update|transfer|doc|search' tarn_net_tests tarn_update_tests tarn_transfer_tests \
  tarn_doc_tests tarn_search_tests
echo "== all test runs passed"
