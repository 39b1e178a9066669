# Failing file operations one at a time, and processes ended at every file
# operation of a run: the cache list and the image folder must always agree
# (both builds; wine runs the Windows one).
lumora_test(NAME crash_tests LINK lumora_engine SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/fault_loop_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/crash_test.cpp)
set_tests_properties(crash_tests PROPERTIES TIMEOUT 300 LABELS crash)

# The stand-in host killed with SIGKILL at many points of a run, then run again
# on the same folder (Windows build: both under wine).
set(_kill_args --host $<TARGET_FILE:vdthost> --module $<TARGET_FILE:lumora>)
if(WIN32)
  list(APPEND _kill_args --wine)
endif()
add_test(NAME crash_host_kill COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_host_kill.py ${_kill_args})
set_tests_properties(crash_host_kill PROPERTIES ENVIRONMENT "${LUMORA_TEST_ENV}" FIXTURES_REQUIRED service
                     RESOURCE_LOCK service LABELS crash TIMEOUT 300)
