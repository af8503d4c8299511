#!/usr/bin/env bash
# Checks that each folder includes only headers of the layers it may depend on, and fails listing
# every file:line that breaks a rule. The layers, bottom up: common (and VelorCommonUtils), then
# model and port, then the link and the settings files, with search, web and diagnostics beside
# them, then the panel and the application on top; the command-line tool (ctl) stands on the link,
# the settings and the search. Nothing below the panel, and nothing of the tool, may use a widget,
# the GUI module or a window.
set -euo pipefail
cd "$(dirname "$0")/.."

# ---- the rules -------------------------------------------------------------------------------
# Each rule: the folders it holds for | what their files may not include.
# An entry on the right is a glob on the included name, or a group named below.
rules=(
  "common VelorCommonUtils model port link settings search web ctl | @qt-gui @window"
  "common model port link settings search web ctl                  | panel/* app/*"
  "model port                                                      | link/* settings/* search/* web/* diagnostics/* ctl/*"
  "link settings                                                   | search/* web/* diagnostics/* ctl/*"
  "search web                                                      | link/* settings/* diagnostics/* ctl/*"
  "ctl                                                             | web/* diagnostics/*"
  "journal                                                         | @qt-gui @window panel/* app/* search/* web/* diagnostics/* ctl/*"
)
# The headers of the windows: the panel, the application and the diagnostic windows.
window_headers=("panel/*" "app/*" "diagnostics/u*Observer.h" "diagnostics/uTempLog.h" "diagnostics/uVerInfo.h")
# @qt-gui: <QtWidgets/...>, <QtGui/...>, the two module headers, and every class header of the
# two modules (<QWidget>, <QColor>, ...), read from the installed Qt so the list is complete.
qt_gui_modules=(QtWidgets QtGui)
# -----------------------------------------------------------------------------------------------

# The C++ files of a folder: those git knows (tracked or new), or all of them in a copy without git.
source_files() {
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files --cached --others --exclude-standard -- "$1"
  else
    find "$1" -type f
  fi | grep -E '\.(cpp|h|hpp|cc)$' | sort -u
}

qt_headers_dir() {
  if [ -n "${QT_INCLUDE_DIR:-}" ]; then
    echo "$QT_INCLUDE_DIR"
  elif command -v qmake6 >/dev/null 2>&1; then
    qmake6 -query QT_INSTALL_HEADERS
  else
    echo /usr/include/x86_64-linux-gnu/qt6
  fi
}

declare -A qt_gui_class=()
qt_dir=$(qt_headers_dir)
for module in "${qt_gui_modules[@]}"; do
  if [ ! -d "$qt_dir/$module" ]; then
    echo "check-layers.sh: Qt headers not found in $qt_dir/$module (set QT_INCLUDE_DIR)" >&2
    exit 2
  fi
  # Class headers have no extension (QWidget, QColor); the others are the lower-case .h files.
  while IFS= read -r name; do
    qt_gui_class[$name]=1
  done < <(find "$qt_dir/$module" -maxdepth 1 -type f ! -name '*.*' -printf '%f\n')
done

is_qt_gui() {
  local name=$1 module
  for module in "${qt_gui_modules[@]}"; do
    [[ $name == "$module" || $name == "$module"/* ]] && return 0
  done
  [[ -n ${qt_gui_class[$name]:-} ]]
}

is_window() {
  local name=$1 glob
  for glob in "${window_headers[@]}"; do
    # shellcheck disable=SC2053 # the right side is a glob on purpose
    [[ $name == $glob ]] && return 0
  done
  return 1
}

# Sets "why" to what the include breaks, or to nothing.
broken_rule() {
  local include=$1 kind=$2 entry
  shift 2
  why=
  for entry in "$@"; do
    case $entry in
      @qt-gui) [ "$kind" = angle ] && is_qt_gui "$include" && why="a widget or GUI header" ;;
      @window) [ "$kind" = quote ] && is_window "$include" && why="a window's header" ;;
      # shellcheck disable=SC2053 # the entry is a glob on purpose
      *) [ "$kind" = quote ] && [[ $include == $entry ]] && why="a header of $entry" ;;
    esac
    [ -n "$why" ] && return 0
  done
  return 0
}

# #include <name> gives the name in match 2, #include "name" in match 3.
include_pattern='^[[:space:]]*#[[:space:]]*include[[:space:]]*(<([^>]+)>|"([^"]+)")'
declare -A reported=() # file:line, so a line that breaks two rules is listed once
violations=0
includes=0
for rule in "${rules[@]}"; do
  read -r -a folders <<<"${rule%%|*}"
  read -r -a forbidden <<<"${rule#*|}"
  for folder in "${folders[@]}"; do
    [ -d "$folder" ] || continue # a layer that does not exist yet
    while IFS= read -r file; do
      while IFS=: read -r line text; do
        [[ $text =~ $include_pattern ]] || continue
        includes=$((includes + 1))
        if [ -n "${BASH_REMATCH[2]}" ]; then
          broken_rule "${BASH_REMATCH[2]}" angle "${forbidden[@]}"
        else
          broken_rule "${BASH_REMATCH[3]}" quote "${forbidden[@]}"
        fi
        if [ -n "$why" ] && [ -z "${reported[$file:$line]:-}" ]; then
          reported[$file:$line]=1
          echo "$file:$line: $folder/ may not include ${BASH_REMATCH[1]}: $why"
          violations=$((violations + 1))
        fi
      done < <(grep -nE '^[[:space:]]*#[[:space:]]*include' "$file" || true)
    done < <(source_files "$folder")
  done
done

if [ "$includes" -eq 0 ]; then
  echo "check-layers.sh: no #include found: the check itself is broken" >&2
  exit 2
fi
if [ "$violations" -gt 0 ]; then
  echo "Layer check: $violations include(s) break the layering" >&2
  exit 1
fi
echo "Layer check: $includes include(s) checked, none breaks the layering"
