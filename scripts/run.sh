#!/usr/bin/env bash
# Installs what is needed, builds the program and starts it. Arguments are passed on
# (for example: bash scripts/run.sh --once).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target webcam-zantrel
exec ./build/webcam-zantrel "$@"
