#!/usr/bin/env bash
# Builds Veltrane (installing missing packages first) and starts it.
# Arguments are passed to the program.
set -eu
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
if [ -x build/src/app/veltrane ]; then
  exec build/src/app/veltrane "$@"
fi
# Until the windows exist the command-line tool is the program.
exec build/src/cli/veltrane-fax "${@:---help}"
