#!/usr/bin/env bash
# Each program's --help lists the options its manual page lists: the same
# options, in the same order, with the same value names.
#   help_man_test.sh MANDIR PROGRAM...
set -euo pipefail
mandir=$1
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for program in "$@"; do
  name=$(basename "$program")
  # "  --name VALUE   text" or "  --name   text": the text is two spaces on.
  "$program" --help | sed -n 's/^  \(--[^ ]\+\( [^ ]\+\)\?\)\(  .*\)\?$/\1/p' >"$work/help"
  sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$mandir/$name.1" |
    sed -n 's/^\.BI "\(.*\) " "\(.*\)"$/\1 \2/p; s/^\.B "\(.*\)"$/\1/p' | sed 's/\\-/-/g' >"$work/man"
  [ -s "$work/help" ] || { echo "$name --help lists no options" >&2; status=1; }
  if ! diff -u --label "$name --help" --label "$name.1 OPTIONS" "$work/help" "$work/man" >&2; then
    echo "$name: --help and the manual page list different options" >&2
    status=1
  fi
done
exit $status
