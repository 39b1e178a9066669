# Cross toolchain: 32-bit Windows, the product that 32-bit hosts load.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(LUMORA_MINGW_TRIPLET i686-w64-mingw32)
set(LUMORA_CROSS_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
