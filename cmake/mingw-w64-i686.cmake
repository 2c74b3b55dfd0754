# 32-bit Windows (vorexd.dll). This kind of machine runs no 32-bit programs
# at all: the tree is compiled and linked, never executed.
set(VOREX_MINGW_ARCH i686)
# SSE2 arithmetic, as the 64-bit build does: x87 rounds twice and would
# change decoded coordinates by a unit now and then.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
