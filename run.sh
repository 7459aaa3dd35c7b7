#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window in demo mode on the
# virtual converter (KTQUpdate_Cascade --simulate): ./run.sh
# Any arguments are passed to ktq instead: ./run.sh list
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$(nproc)" --target ktq KTQUpdate KTQUpdate_Cascade
if [ $# -gt 0 ]; then
  exec build/bin/ktq "$@"
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat <<'TEXT'
No display here, so the window cannot start. The command line does the same
on the virtual converter, for example:
  build/bin/ktq --simulate info
  build/bin/ktq --simulate=sim/scenarios/cascade-type5.json tefra log.bin
or ./run.sh ARGS... to pass ARGS to ktq. With a display, ./run.sh starts
  build/bin/KTQUpdate_Cascade --simulate=sim/scenarios/cascade-type5.json
TEXT
  exit 0
fi
exec build/bin/KTQUpdate_Cascade --simulate=sim/scenarios/cascade-type5.json
