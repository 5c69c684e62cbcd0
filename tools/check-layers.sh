#!/usr/bin/env bash
# Prints every project include that runs from a lower layer up to a higher one.
# Layers, lowest first (a folder may include its own layer and any below it):
#   base  metrics  beacon  net  service  shell  tools
# Source folders not in the list are reported as unplaced and fail the check;
# tests/ and bench/ are not checked.
# Usage: tools/check-layers.sh [REPO]   (exit 1 when anything runs up or is unplaced)
set -u
repo=${1:-.}
cd "$repo" || exit 2
order=(base metrics beacon net service shell tools)
rank() { local i; for i in "${!order[@]}"; do [ "${order[$i]}" = "$1" ] && { echo "$i"; return; }; done; echo -1; }
up=0; unplaced=""
while IFS= read -r line; do
  file=${line%%:*}; inc=$(sed -E 's/.*#include "([^"]+)".*/\1/' <<<"$line")
  from=${file%%/*}; to=${inc%%/*}
  [ "$to" = "$inc" ] && continue              # same-folder include without a path
  rf=$(rank "$from"); rt=$(rank "$to")
  if [ "$rf" -lt 0 ]; then unplaced="$unplaced $from"; continue; fi
  [ "$rt" -lt 0 ] && { unplaced="$unplaced $to"; continue; }
  if [ "$rt" -gt "$rf" ]; then echo "up: $file includes $inc ($from below $to)"; up=$((up+1)); fi
done < <(git ls-files '*.cpp' '*.h' | grep -vE '^(tests|bench)/' | xargs -r grep -HnE '^#include "[^"]+/[^"]+"' 2>/dev/null | sed -E 's/^([^:]+):[0-9]+:/\1:/')
[ -n "$unplaced" ] && echo "folders outside the layer list: $(tr ' ' '\n' <<<"$unplaced" | sort -u | tr '\n' ' ')"
echo "includes running up: $up"
[ "$up" -eq 0 ] && [ -z "$unplaced" ]
