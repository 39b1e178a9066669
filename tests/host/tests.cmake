# Host-contract tests: the real module loaded by the stand-in host (wine runs
# it on the Windows build).
set(_host_test_args --host $<TARGET_FILE:vdthost> --module $<TARGET_FILE:lumora>)
if(WIN32)
  find_program(LUMORA_WINE wine REQUIRED)
  find_program(LUMORA_MINGW_OBJDUMP i686-w64-mingw32-objdump REQUIRED)
  list(APPEND _host_test_args --wine ${LUMORA_WINE} --objdump ${LUMORA_MINGW_OBJDUMP})
endif()
add_test(NAME host_contract COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_host.py ${_host_test_args})
set_tests_properties(host_contract PROPERTIES ENVIRONMENT "${LUMORA_TEST_ENV}")

# The stand-in host's settings file (the reader the fuzz target hammers).
lumora_test(NAME host_ini_tests LINK lumora_platform
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ini_test.cpp ${CMAKE_SOURCE_DIR}/host/ini.cpp ${CMAKE_SOURCE_DIR}/host/host_platform.cpp)
target_include_directories(host_ini_tests PRIVATE ${CMAKE_SOURCE_DIR}/host ${CMAKE_BINARY_DIR}/layers/common)
if(NOT WIN32)
  target_link_libraries(host_ini_tests PRIVATE ${CMAKE_DL_LIBS})
endif()
