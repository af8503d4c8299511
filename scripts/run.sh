#!/usr/bin/env bash
# Installs what is missing, builds and starts the panel. Without arguments it starts on the built-in
# simulated module (--demo); any arguments go to the panel instead (for example "test").
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
find build -path '*_autogen/timestamp' -delete 2>/dev/null || true
cmake --build build --parallel 2 --target quadrel-panel

if [ $# -eq 0 ]; then
  set -- --demo
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  # No screen here: run on a virtual one, so the panel still starts (for example over ssh).
  exec xvfb-run -a build/app/quadrel-panel "$@"
fi
exec build/app/quadrel-panel "$@"
