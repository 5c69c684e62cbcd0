#!/usr/bin/env bash
# Writes each program's options, as its option table describes them, into the
# OPTIONS section of its manual page (tools/package/man/*.1) and into the
# commented settings file tools/package/default/varnwin32 (between the line
# "# The options ..." and "# Example:"). Everything else in those files is
# written by hand.
#   update-option-docs.sh GENERATOR           rewrite the files
#   update-option-docs.sh GENERATOR --check   change nothing; fail, showing
#                                             the difference, where they differ
# GENERATOR is the built varn-option-docs (`ninja option-docs` runs this).
set -euo pipefail
generator=$1
check=${2:-}
package=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
differs=0

# replace FILE START END PARTFILE: FILE with the lines after the line START
# and before the next line matching the pattern END replaced by PARTFILE.
replace() {
  local file=$1 start=$2 end=$3 part=$4
  grep -qxF -- "$start" "$file" || { echo "$file: no line '$start'" >&2; exit 1; }
  awk -v start="$start" -v end="$end" -v part="$part" '
    skipping && $0 ~ end { skipping = 0 }
    !skipping { print }
    $0 == start { while ((getline line < part) > 0) print line; skipping = 1 }
  ' "$file" >"$work/new"
  if [ "$check" = --check ]; then
    if ! diff -u "$file" "$work/new" >&2; then
      echo "$file differs from the option table; rewrite it with: ninja option-docs" >&2
      differs=1
    fi
  else
    cmp -s "$file" "$work/new" || cp "$work/new" "$file"
  fi
}

for page in varnwin32 varnwin32-service varn-beacon varn-probe; do
  "$generator" man "$page" >"$work/part"
  replace "$package/man/$page.1" ".SH OPTIONS" '^\.SH ' "$work/part"
done
{ echo "#"; "$generator" default varnwin32-service; } >"$work/part"
replace "$package/default/varnwin32" "# The options (each may also be written --name=value):" '^# Example:' "$work/part"
exit $differs
