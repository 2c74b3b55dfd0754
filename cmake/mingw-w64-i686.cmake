# 32-bit Windows (vorexd.dll). This kind of machine runs no 32-bit programs
# at all: the tree is compiled and linked, never executed.
set(VOREX_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
