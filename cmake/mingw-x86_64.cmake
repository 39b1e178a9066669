# Cross toolchain: 64-bit Windows, for 64-bit hosts and for machines whose
# wine cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LUMORA_MINGW_TRIPLET x86_64-w64-mingw32)
set(LUMORA_CROSS_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
