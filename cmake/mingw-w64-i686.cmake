# Cross-compiling the Windows x86 (32-bit) build with mingw-w64, for 32-bit hosts.
set(OMBRIX_MINGW i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
