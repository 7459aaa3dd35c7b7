#!/usr/bin/env bash
# Installs what is missing, builds everything and runs the whole test suite.
# Extra CMake arguments: KTQ_CMAKE_ARGS="-DKTQ_WERROR=ON" ./test.sh
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
# shellcheck disable=SC2086
cmake -S . -B build -G Ninja ${KTQ_CMAKE_ARGS:-} >/dev/null
cmake --build build -j"$(nproc)"
cd build
ctest --output-on-failure -j"$(nproc)" -LE fuzz
