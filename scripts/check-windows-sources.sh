#!/usr/bin/env bash
# The Windows-only sources (files ending in _win.cpp) cannot run here; compiling them with
# mingw-w64 keeps them from rotting.
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t sources < <(git ls-files '*_win.cpp' 2>/dev/null; find . -path ./build\* -prune -o -name '*_win.cpp' -print | sed 's|^\./||')
mapfile -t sources < <(printf '%s\n' "${sources[@]}" | grep -v '^$' | sort -u)
if [ ${#sources[@]} -eq 0 ]; then
  exit 0
fi
compiler=x86_64-w64-mingw32-g++-posix
for source in "${sources[@]}"; do
  "$compiler" -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I. "$source"
done
echo "Windows sources compile: ${#sources[@]} file(s)"
