#!/usr/bin/env bash
# Installs what building, running and the tests need (scripts/packages/*.txt), builds everything and
# runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh build run test
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure --timeout 300 -j2
