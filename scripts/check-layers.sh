#!/usr/bin/env bash
# Fails when a core folder includes a Qt header: the core must build without Qt.
set -eu
root=${1:-.}
core="src/imaging src/faxengine src/modemsim src/platform/xbase src/platform/serial src/data"
hits=""
for d in $core; do
  [ -d "$root/$d" ] || continue
  h=$(grep -rnE '^\s*#\s*include\s*<Q' "$root/$d" || true)
  hits="$hits$h"
done
if [ -n "$hits" ]; then
  echo "Qt headers in core folders:"; echo "$hits"; exit 1
fi
echo "core folders are free of Qt"
