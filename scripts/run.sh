#!/usr/bin/env bash
# Installs what is missing, builds and starts the panel. Without arguments it starts on the built-in
# simulated module (--demo); any arguments go to the panel instead (for example "test").
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh quadrel-panel

if [ $# -eq 0 ]; then
  set -- --demo
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  # No screen here: run on a virtual one, so the panel still starts (for example over ssh).
  exec xvfb-run -a build/app/quadrel-panel "$@"
fi
exec build/app/quadrel-panel "$@"
