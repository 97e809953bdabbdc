#!/usr/bin/env bash
# Configures and builds the project into ./build (Release, all cores).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE=/usr/bin/python3
cmake --build build -j "$(nproc)"
