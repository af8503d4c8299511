#!/usr/bin/env bash
# quadrelctl stands on the link without the screen: the program must not load Qt Widgets or Qt Gui,
# and its manual page must render without a warning.
#   scripts/check-quadrelctl.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

program="$build_dir/app/quadrelctl"
if [ ! -x "$program" ]; then
  echo "check-quadrelctl.sh: $program is not built" >&2
  exit 1
fi
libraries=$(ldd "$program")
if grep -E 'libQt6(Widgets|Gui)' <<<"$libraries"; then
  echo "check-quadrelctl.sh: $program loads Qt Widgets or Qt Gui" >&2
  exit 1
fi
if ! grep -q 'libQt6Core' <<<"$libraries"; then
  echo "check-quadrelctl.sh: ldd shows no Qt Core for $program: the check itself is broken" >&2
  exit 1
fi
# groff reads UTF-8 only with -k (preconv); every warning fails the check.
warnings=$(groff -k -man -Tutf8 -ww -z ctl/quadrelctl.1 2>&1 || true)
if [ -n "$warnings" ]; then
  echo "$warnings" >&2
  echo "check-quadrelctl.sh: ctl/quadrelctl.1 renders with warnings" >&2
  exit 1
fi
echo "quadrelctl: no Qt Widgets or Qt Gui loaded; manual page renders cleanly"
