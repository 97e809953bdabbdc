#!/usr/bin/env bash
# Compiles and links every target with nvcc against the real CUDA runtime (nothing here can run it).
# Skipped, with a note, on a machine without nvcc.
set -euo pipefail
cd "$(dirname "$0")/.."
nvcc_path=$(command -v nvcc || true)
[ -z "$nvcc_path" ] && [ -x /usr/local/cuda/bin/nvcc ] && nvcc_path=/usr/local/cuda/bin/nvcc
if [ -z "$nvcc_path" ]; then
  echo "cuda-compile-check: no nvcc on this machine, skipped"
  exit 0
fi
cmake -S . -B build-cuda -DCMAKE_BUILD_TYPE=Release -DDUZAVOD_CUDA=ON -DCMAKE_CUDA_COMPILER="$nvcc_path" \
  -DPython_EXECUTABLE=/usr/bin/python3
cmake --build build-cuda -j "$(nproc)"
echo "cuda-compile-check: all targets compiled and linked with $nvcc_path"
