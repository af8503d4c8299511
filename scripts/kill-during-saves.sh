#!/usr/bin/env bash
# Kills the panel with SIGKILL while it saves its settings, again and again, and checks after each
# kill that every settings file left (Options.xml, the project file, velor.ini) parses and holds
# either the old or the new settings, never a mixture or a torn file.
#   scripts/kill-during-saves.sh [kills] [build folder]     default: 200 kills, build/
set -euo pipefail
cd "$(dirname "$0")/.."
kills=${1:-200}
build=${2:-build}
stress="$build/tests/tools/quadrel-save-stress"
[ -x "$stress" ] || { echo "build $stress first (scripts/build.sh or the test build)"; exit 2; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export QUADREL_SETTINGS_DIR="$scratch/settings" XDG_CONFIG_HOME="$scratch/config" QT_QPA_PLATFORM=offscreen
mkdir -p "$QUADREL_SETTINGS_DIR" "$XDG_CONFIG_HOME"

failures=0
with_files=0
for ((i = 1; i <= kills; i++)); do
  "$stress" run 2>/dev/null &
  pid=$!
  # The first kills come early (during start-up and the first saves), later ones anywhere.
  sleep "0.$(printf '%03d' $((RANDOM % 600 + 20)))"
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  [ -f "$QUADREL_SETTINGS_DIR/Options.xml" ] && with_files=$((with_files + 1))
  if ! out=$("$stress" check); then
    failures=$((failures + 1))
    echo "kill $i: $out"
    cp -r "$QUADREL_SETTINGS_DIR" "$scratch/../quadrel-kill-$i" 2>/dev/null || true
  fi
done
# A save writes ".<file>.quadrel-save-<pid>-<random>.tmp" and renames it over the file.
leftover_names=$(find "$QUADREL_SETTINGS_DIR" -name '.*.quadrel-save-*.tmp')
leftovers=$(printf '%s' "$leftover_names" | grep -c . || true)
# A save removes the leftovers of its file once they are a minute old: those are the last minute's.
# Anything else beside the settings files (the sets the stress tool copies from) must stay.
[ -n "$leftover_names" ] && for name in $leftover_names; do
  echo "left by a kill: $(basename "$name"), $(( $(date +%s) - $(stat -c %Y "$name") )) s old"
done
for set in setA.ini setB.ini; do
  [ -f "$QUADREL_SETTINGS_DIR/$set" ] || { echo "$set beside the settings files was removed"; failures=$((failures + 1)); }
done
echo "kills: $kills, checks with files on disk: $with_files, broken or mixed files: $failures," \
     "temporary files left by kills: $leftovers"
[ "$failures" -eq 0 ]
