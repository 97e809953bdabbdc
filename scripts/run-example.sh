#!/usr/bin/env bash
# Fresh Debian 12 machine to a running example: dependencies, build, then the swimming fish.
# The towed plate, the second example, runs with: ./build/examples/moving_plate build/moving_plate_output 300
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
/usr/bin/python3 examples/swimmer.py --output build/swimmer_output "$@"
