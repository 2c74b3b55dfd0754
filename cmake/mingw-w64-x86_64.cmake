# 64-bit Windows (vorex.dll). The tests run under wine64:
# scripts/ci-windows.sh gives it a private network namespace and a scratch
# prefix.
set(VOREX_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
