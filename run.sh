#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tool. Without a converter
# attached it shows the virtual converter: ./run.sh
# Any arguments are passed to ktq instead: ./run.sh list
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$(nproc)" --target ktq
if [ $# -gt 0 ]; then
  exec build/bin/ktq "$@"
fi
echo "\$ ktq --simulate list"
build/bin/ktq --simulate list
echo "\$ ktq --simulate read 0x20200D30 4"
build/bin/ktq --simulate read 0x20200D30 4
echo "\$ ktq --simulate info"
build/bin/ktq --simulate info
