#!/bin/sh
# Builds the project with its test suite into build/ and runs every test.
# Run as root so the end-to-end tests can use a private mount namespace;
# without root they are skipped (and fail when CI is set).
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DSPOOLNAG_TESTS=ON
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"
