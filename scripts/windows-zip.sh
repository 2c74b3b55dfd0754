#!/usr/bin/env bash
# Packs the Windows package from the win64 and win32 builds (built first):
# both DLL families (vorex.dll and vorex_c.dll, vorexd.dll and
# vorexd_c.dll), the headers, vorex_c.def, the MinGW (.dll.a) and Visual
# Studio (.lib) import libraries, and the C# wrapper with its example.
# Writes build/vorex-windows-VERSION.zip and lists what it checked.
# Usage: scripts/windows-zip.sh
set -euo pipefail
cd "$(dirname "$0")/.."
version=$(sed -n -E 's/^project\(vorex VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/vorex-windows-$version
for tree in build/win64 build/win32; do
  cmake --install "$tree" --prefix "$root" --component library >/dev/null
done
mkdir -p "$root/dotnet"
cp bindings/dotnet/*.cs "$root/dotnet/"
for f in include/vorex.h include/vorex_c.h lib/vorex_c.def dotnet/Vorex.cs dotnet/Example.cs \
  bin/vorex.dll bin/vorex_c.dll lib/libvorex.dll.a lib/libvorex_c.dll.a lib/vorex_c.lib \
  bin/vorexd.dll bin/vorexd_c.dll lib/libvorexd.dll.a lib/libvorexd_c.dll.a lib/vorexd_c.lib; do
  [ -f "$root/$f" ] || { echo "the Windows package lacks $f"; exit 1; }
done
# The Visual Studio import libraries name the right DLL, and the 32-bit one
# the decorated __cdecl names (a leading underscore) its linker looks for.
strings "$root/lib/vorex_c.lib" | grep -x 'vorex_c.dll' >/dev/null || { echo "vorex_c.lib does not name vorex_c.dll"; exit 1; }
x86_64-w64-mingw32-nm "$root/lib/vorex_c.lib" | grep -E ' T vorex_c_init$' >/dev/null || { echo "vorex_c.lib lacks vorex_c_init"; exit 1; }
i686-w64-mingw32-nm "$root/lib/vorexd_c.lib" | grep -E ' T _vorex_c_init$' >/dev/null || { echo "vorexd_c.lib lacks _vorex_c_init"; exit 1; }
for dll in bin/vorex_c.dll bin/vorexd_c.dll; do tests/exported_symbols.sh "$root/$dll" . >/dev/null; done
zip=$PWD/build/vorex-windows-$version.zip
rm -f "$zip"
(cd "$work" && cmake -E tar cf "$zip" --format=zip "vorex-windows-$version")
echo "$(basename "$zip"): $(find "$root" -type f | wc -l) files, both DLL families, .def, .dll.a and .lib import libraries, C# source"
