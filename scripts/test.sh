#!/usr/bin/env bash
# Builds everything and runs every test: the POSIX build with its unit, host
# and profile tests, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

./scripts/install-deps.sh all

status=0
step() { echo; echo "==== $*"; }

step "POSIX build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
# Two tests at a time: each runs from a folder of its own (tests/run_alone.sh).
step "POSIX tests"
(cd build && ctest -j2 --output-on-failure) || status=1

step "POSIX tests under ASan + UBSan"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUORVEL_SANITIZE=ON -DQUORVEL_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest -j2 --output-on-failure) || status=1

if [ -x scripts/test-windows.sh ]; then
  step "Windows build under Wine"
  ./scripts/test-windows.sh || status=1
fi

echo
if [ $status -eq 0 ]; then echo "all test suites passed"; else echo "some test suites FAILED"; fi
exit $status
