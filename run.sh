#!/usr/bin/env bash
# Builds Veltrane (installing missing packages first) and starts it.
# Arguments are passed to the program; file names in them are taken relative
# to the folder run.sh was started from, so the build runs in its own folder.
set -eu
root=$(cd "$(dirname "$0")" && pwd)
(
  cd "$root"
  scripts/install-deps.sh
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  # Build output goes to a log, so the program's own output stays readable.
  if ! cmake --build build >build/run-build.log 2>&1; then
    cat build/run-build.log >&2
    exit 1
  fi
)
if [ -x "$root/build/src/app/veltrane" ]; then
  exec "$root/build/src/app/veltrane" "$@"
fi
# Until the windows exist the command-line tool is the program.
exec "$root/build/src/cli/veltrane-fax" "${@:---help}"
