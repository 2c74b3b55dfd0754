#!/usr/bin/env bash
# The shared library exports the class vorex and nothing else.
set -euo pipefail
lib=$1
case "$lib" in
  *.dll)  # the export table of a PE image (either mingw-w64 objdump reads both)
    symbols=$(x86_64-w64-mingw32-objdump -p "$lib" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
      sed -n -E 's/^\s*\[ *[0-9]+\] //p' | c++filt) ;;
  *)
    symbols=$(nm -D --defined-only "$lib" | awk '{ $1=""; $2=""; sub(/^  /, ""); print }' | c++filt) ;;
esac
count=$(grep -c . <<<"$symbols" || true)
strays=$(grep -v -E '^(vorex::|typeinfo for vorex$|typeinfo name for vorex$|vtable for vorex$)' <<<"$symbols" || true)
if [ -n "$strays" ]; then
  echo "exported outside vorex:"; echo "$strays"; exit 1
fi
for wanted in 'vorex::search(bool*)' 'vorex::init()' 'vorex::get_result(vorex_profile&)' 'vorex::operator=(vorex const&)'; do
  grep -q -F -x "$wanted" <<<"$symbols" || { echo "missing export: $wanted"; exit 1; }
done
echo "$count symbols, all in vorex"
