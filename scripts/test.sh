#!/bin/sh
# Builds the project with its test suite and benchmarks into build/, runs
# each benchmark once on the smallest size so that they keep working (no
# timing is judged), then runs every test. Run as root so the end-to-end tests can
# use a private mount namespace; without root they are skipped (and fail when
# CI is set).
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DSPOOLNAG_TESTS=ON -DBENCH=ON
cmake --build build -j "$(nproc)"
sh bench/run.sh --quick
ctest --test-dir build --output-on-failure -j "$(nproc)"
