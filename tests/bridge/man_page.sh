#!/usr/bin/env bash
# vorex-bridge's man page describes every option its --help lists, and not
# the worker's own.
# Usage: man_page.sh VOREX_BRIDGE PAGE
set -euo pipefail
bridge=$1 page=$2
failed=0
options=$("$bridge" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ "$(wc -l <<<"$options")" -ge 8 ] || { echo "--help lists too few options: $options"; exit 1; }
for option in $options; do
  grep -q -F -- "${option//-/\\-}" "$page" || { echo "vorex-bridge.1: no $option"; failed=1; }
done
for topic in points image device_info diagnostics CYCLONEDDS_URI; do
  grep -q -F -- "$topic" "$page" || { echo "vorex-bridge.1: no $topic"; failed=1; }
done
if grep -q -F 'worker' <<<"$("$bridge" --help | grep -- '--')"; then echo "--help shows the worker's option"; failed=1; fi
[ "$failed" = 0 ] && echo "vorex-bridge.1 describes all $(wc -l <<<"$options") options"
exit "$failed"
