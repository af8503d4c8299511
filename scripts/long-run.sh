#!/usr/bin/env bash
# The long run (not a test): the panel polls the simulated module with a port observer open and
# the web bridge on against a local service, and its resident memory, open file descriptors and
# threads are printed every minute, with the trend extrapolated to 24 hours at the end.
#   scripts/long-run.sh [minutes, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-60}

bash scripts/install-deps.sh
command -v python3 >/dev/null || { sudo_cmd=""; [ "$(id -u)" = 0 ] || sudo_cmd=sudo;
  $sudo_cmd apt-get update && $sudo_cmd apt-get install -y --no-install-recommends python3; }
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --parallel 2 --target longrun_panel quadrel-sim

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 scripts/long-run-web.py "$port" &
web=$!
trap 'kill $web 2>/dev/null || true' EXIT
sleep 1
mkdir -p long-run-out
settings=$(mktemp -d)
QUADREL_SETTINGS_DIR=$settings QT_QPA_PLATFORM=offscreen \
  build/benchmarks/panel/longrun_panel "$minutes" "http://127.0.0.1:$port/" | tee long-run-out/long-run.txt
rm -rf "$settings"
