#!/usr/bin/env bash
# Renders the demo panel, connected to its simulated module, to docs/panel.png.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh quadrel-panel
mkdir -p docs
QT_QPA_PLATFORM=offscreen build/app/quadrel-panel --demo --connect --screenshot docs/panel.png --after 4000
echo "docs/panel.png"
