# Host-contract tests: the real module loaded by the stand-in host (wine runs
# it on the Windows build).
set(_objdump "")
if(WIN32)
  set(_objdump --objdump ${LUMORA_OBJDUMP})
endif()
lumora_add_test(NAME host_contract
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_host.py ${LUMORA_HOST_ARGS} ${_objdump}
  ${LUMORA_HOST_WINE} LABELS host)

# What users install, looked at without running it: its one export, its
# imports, no debug sections, its architecture and its size. This needs no
# wine, so the 32-bit product is checked on every machine.
if(WIN32)
  lumora_add_test(NAME module_static
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/check-module.sh $<TARGET_FILE:lumora> ${LUMORA_OBJDUMP} ${CMAKE_SYSTEM_PROCESSOR}
    LABELS static)
endif()

# The stand-in host's settings file (the reader the fuzz target hammers).
lumora_test(NAME host_ini_tests LINK lumora_platform
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ini_test.cpp ${CMAKE_SOURCE_DIR}/host/ini.cpp ${CMAKE_SOURCE_DIR}/host/host_platform.cpp)
target_include_directories(host_ini_tests PRIVATE ${CMAKE_SOURCE_DIR}/host ${CMAKE_BINARY_DIR}/layers/common)
if(NOT WIN32)
  target_link_libraries(host_ini_tests PRIVATE ${CMAKE_DL_LIBS})
endif()
