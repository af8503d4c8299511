#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks that it holds what an installation needs:
# the program, the simulator, quadrelctl with its manual page and completion, the desktop entry and
# the icon.
#   scripts/check-package.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${1:-build}

rm -f "$build_dir"/quadrel-panel_*.deb
(cd "$build_dir" && cpack -G DEB >/dev/null)
package=$(ls "$build_dir"/quadrel-panel_*.deb)
contents=$(dpkg-deb -c "$package" | awk '{print $6}')

missing=0
for path in ./usr/bin/quadrel-panel ./usr/bin/quadrel-sim ./usr/share/applications/quadrel-panel.desktop \
            ./usr/share/icons/hicolor/scalable/apps/quadrel-panel.svg ./usr/bin/quadrelctl \
            ./usr/share/man/man1/quadrelctl.1 ./usr/share/bash-completion/completions/quadrelctl; do
  if ! grep -qx "$path" <<<"$contents"; then
    echo "package $package lacks $path" >&2
    missing=1
  fi
done
# Nothing of the build leaks into it: no tests, libraries or headers.
if grep -E '(tst_|\.a$|\.h$|bench)' <<<"$contents"; then
  echo "package $package holds build files" >&2
  missing=1
fi
depends=$(dpkg-deb -f "$package" Depends)
if ! grep -q 'libqt6widgets6' <<<"$depends"; then
  echo "package $package does not depend on Qt Widgets: $depends" >&2
  missing=1
fi
[ "$missing" = 0 ] && echo "$package: program, simulator, command-line tool with its manual page and completion, desktop entry and icon"
exit "$missing"
