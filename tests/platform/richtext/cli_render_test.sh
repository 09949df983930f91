#!/bin/sh
# veltrane-fax render: page count on stdout, one output file, no scratch left,
# and the failures a script must be able to see.
set -u
cli=$1 data=$2
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

pages=$("$cli" render --cover "$data/cover_template.rtf" --doc "$data/libreoffice_letter.rtf" -o "$work/fax.apf") ||
  fail "render exited with $?"
[ "$pages" = "3" ] || fail "expected 3 pages, got '$pages'"
[ -s "$work/fax.apf" ] || fail "no output file"
[ "$(ls -A "$work")" = "fax.apf" ] || fail "left behind: $(ls -A "$work")"
"$cli" info "$work/fax.apf" 2>/dev/null | grep -q 3 || echo "note: info did not confirm the page count"

printf '{\\rtf1 }' > "$work/empty.rtf"
msg=$("$cli" render --doc "$work/empty.rtf" -o "$work/none.apf" 2>&1) && fail "empty fax accepted"
echo "$msg" | grep -q "Fax has no contents or cover sheet" || fail "message was: $msg"
[ ! -e "$work/none.apf" ] || fail "empty fax made a file"

"$cli" render --doc "$work/empty.rtf" >/dev/null 2>&1
[ $? -eq 2 ] || fail "missing -o is not a usage error"
"$cli" render --doc "$work/missing.rtf" -o "$work/x.apf" >/dev/null 2>&1 && fail "missing input accepted"
[ "$(ls -A "$work")" = "empty.rtf
fax.apf" ] || fail "left behind: $(ls -A "$work")"
echo PASS
