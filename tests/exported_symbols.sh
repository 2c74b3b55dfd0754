#!/usr/bin/env bash
# The shared library exports the class vorex and nothing else; the C
# library (vorex_c, vorexd_c) exports exactly the functions its header
# declares, as its .def file lists them.
# Usage: exported_symbols.sh LIBRARY [SOURCE]  (SOURCE, the tree, for the C library)
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

case "$(basename "$lib")" in
  *vorex_c.* | *vorexd_c.*)
    source=${2:?the source tree is needed for the C library}
    declared=$(grep -oE 'VOREX_C_CALL vorex_c_[a-z_]+\(' "$source/include/vorex_c.h" | sed -E 's/^VOREX_C_CALL //; s/\($//' | sort)
    listed=$(sed -n -E 's/^\s+(vorex_c_[a-z_]+)\s*$/\1/p' "$source/cmake/vorex_c.def" | sort)
    [ "$declared" = "$listed" ] || { echo "vorex_c.def and vorex_c.h differ:"; diff <(echo "$listed") <(echo "$declared"); exit 1; }
    [ "$(sort <<<"$symbols")" = "$declared" ] || { echo "exports differ from vorex_c.h:"; diff <(sort <<<"$symbols") <(echo "$declared"); exit 1; }
    echo "$count symbols, exactly the functions of vorex_c.h"
    exit 0 ;;
esac

strays=$(grep -v -E '^(vorex::|typeinfo for vorex$|typeinfo name for vorex$|vtable for vorex$)' <<<"$symbols" || true)
if [ -n "$strays" ]; then
  echo "exported outside vorex:"; echo "$strays"; exit 1
fi
for wanted in 'vorex::search(bool*)' 'vorex::init()' 'vorex::get_result(vorex_profile&)' 'vorex::operator=(vorex const&)'; do
  grep -q -F -x "$wanted" <<<"$symbols" || { echo "missing export: $wanted"; exit 1; }
done
echo "$count symbols, all in vorex"
