# Cross-compiling the Windows x64 build with mingw-w64.
set(OMBRIX_MINGW x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
