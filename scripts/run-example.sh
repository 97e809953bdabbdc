#!/usr/bin/env bash
# Fresh Debian 12 machine to a running example: dependencies, build, then the main example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
./build/examples/moving_plate build/moving_plate_output 300
