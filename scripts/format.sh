#!/usr/bin/env bash
# Formats the project's C++ files with clang-format and the style in .clang-format.
#   scripts/format.sh           formats every tracked C++ file in place
#   scripts/format.sh --check   changes nothing; lists the files that are not formatted and fails
# Only files tracked by git are touched, so build folders and untracked files are left alone.
# clang-format 19 is required: other versions break some lines differently, and the check must
# give the same answer on every machine.
set -euo pipefail
cd "$(dirname "$0")/.."

wanted_major=19
mode=format
case "${1:-}" in
  "") ;;
  --check) mode=check ;;
  *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac

find_clang_format() {
  local candidate
  for candidate in "clang-format-$wanted_major" clang-format; do
    if command -v "$candidate" >/dev/null 2>&1 \
      && "$candidate" --version | grep -Eq "version $wanted_major\."; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

if ! clang_format=$(find_clang_format); then
  echo "format.sh: clang-format $wanted_major is missing." >&2
  echo "Install it with scripts/install-deps.sh (Debian package clang-format-$wanted_major)." >&2
  exit 3
fi

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cpp' '*.h' '*.hpp' '*.cc')
else
  # A copy without git (an unpacked archive): every C++ file outside the build folders.
  mapfile -t files < <(find . \( -path './build*' -o -path './fuzz-out' \) -prune -o -type f \
    \( -name '*.cpp' -o -name '*.h' -o -name '*.hpp' -o -name '*.cc' \) -print | sed 's|^\./||' | sort)
fi
if [ ${#files[@]} -eq 0 ]; then
  echo "format.sh: no C++ files found" >&2
  exit 1
fi

if [ "$mode" = format ]; then
  printf '%s\0' "${files[@]}" | xargs -0 -n 50 "$clang_format" -i --style=file
  echo "Formatted ${#files[@]} file(s) with $clang_format"
  exit 0
fi

# One run over all files; each unformatted file is named in its first complaint.
report=$(printf '%s\0' "${files[@]}" \
  | xargs -0 -n 50 "$clang_format" --style=file --dry-run --Werror --ferror-limit=1 2>&1 >/dev/null) && status=0 || status=$?
mapfile -t unformatted < <(printf '%s\n' "$report" | sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' | sort -u)
if [ "$status" -ne 0 ] && [ ${#unformatted[@]} -eq 0 ]; then
  printf '%s\n' "$report" >&2
  echo "format.sh: $clang_format failed" >&2
  exit 1
fi
if [ ${#unformatted[@]} -gt 0 ]; then
  echo "Not formatted (${#unformatted[@]} of ${#files[@]} file(s)); run scripts/format.sh:" >&2
  printf '  %s\n' "${unformatted[@]}" >&2
  exit 1
fi
echo "Formatting checked: ${#files[@]} file(s)"
