#!/usr/bin/env bash
# Kills the journal's writer with SIGKILL while it writes (one batch a second, a sample every
# 100 ms), again and again on the same Journal.sqlite, and checks after each kill that the file
# passes PRAGMA integrity_check (with the sqlite3 shell when there is one, and through Qt SQL),
# that the next start did not set it aside, and that its newest row is at most about a second
# older than the kill.
#   scripts/kill-during-journal.sh [kills] [build folder]     default: 100 kills, build/
set -euo pipefail
cd "$(dirname "$0")/.."
readonly kills=${1:-100} build=${2:-build}
readonly stress="$build/tests/tools/quadrel-journal-stress"
if [ ! -x "$stress" ]; then
  echo "build $stress first (the test build)"
  exit 2
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
journal="$scratch/journal"
mkdir -p "$journal"
export QT_QPA_PLATFORM=offscreen
now_ms() { date +%s%3N; }

failures=0
worst=0
for ((i = 1; i <= kills; i++)); do
  start=$(now_ms)
  "$stress" run "$journal" 2>>"$scratch/stderr" &
  pid=$!
  # Anywhere from start-up to a few seconds of writing.
  sleep "$((RANDOM % 5)).$(printf '%03d' $((RANDOM % 1000)))"
  # Quietly: bash would report the killed job.
  { kill -KILL "$pid"; killed=$(now_ms); wait "$pid"; } 2>/dev/null || true
  if command -v sqlite3 >/dev/null && [ -f "$journal/Journal.sqlite" ]; then
    # A copy, so that the shell's recovery of the WAL is not what the next run finds.
    cp "$journal"/Journal.sqlite* "$scratch/" 2>/dev/null
    verdict=$(sqlite3 "$scratch/Journal.sqlite" 'PRAGMA integrity_check' 2>&1 || true)
    rm -f "$scratch"/Journal.sqlite*
    if [ "$verdict" != ok ]; then
      failures=$((failures + 1))
      echo "kill $i: sqlite3 integrity_check: $verdict"
      continue
    fi
  fi
  if ! out=$("$stress" check "$journal" "$killed" "$start"); then
    failures=$((failures + 1))
    echo "kill $i: $out"
  fi
  age=$(sed -n 's/^newest row \(-\?[0-9]*\) ms before the kill$/\1/p' <<<"$out")
  [ -n "$age" ] && [ "$age" -gt "$worst" ] && worst=$age
done
if grep -q . "$scratch/stderr"; then
  echo "the writer said:"
  sort "$scratch/stderr" | uniq -c | head -5
fi
echo "kills: $kills, failures: $failures, newest row at most $worst ms before a kill," \
     "file: $(du -k "$journal/Journal.sqlite" | cut -f1) KiB"
[ "$failures" -eq 0 ]
