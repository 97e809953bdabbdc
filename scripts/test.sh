#!/usr/bin/env bash
# Fresh Debian 12 machine to a full test run: dependencies, build, the C++ tests, the Python tests.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j "$(nproc)"
DUZAVOD_BUILD_DIR="$PWD/build" /usr/bin/python3 -m pytest -q tests/python
