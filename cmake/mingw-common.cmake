# Shared by the two Windows toolchains: the triplet (LUMORA_MINGW_TRIPLET) and
# the architecture folder of the cross-built libraries (LUMORA_CROSS_ARCH) are
# set by the file that includes this one. The posix thread model is required:
# std::thread and std::mutex need it in gcc 12.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER /usr/bin/${LUMORA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${LUMORA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${LUMORA_MINGW_TRIPLET}-windres)
set(LUMORA_CROSS_PREFIX "$ENV{LUMORA_DEPS}")
if(NOT LUMORA_CROSS_PREFIX)
  set(LUMORA_CROSS_PREFIX /opt/lumora-deps)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${LUMORA_MINGW_TRIPLET} ${LUMORA_CROSS_PREFIX}/${LUMORA_CROSS_ARCH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# CTest runs the test programs under the wine that fits this architecture
# (scripts/winenv.sh says which; the test environment carries it).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
