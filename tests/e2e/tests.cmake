# End to end: the real module loaded by the stand-in host, against the
# stand-in service (Windows build: both run under wine).
set(_e2e_args --host $<TARGET_FILE:vdthost> --module $<TARGET_FILE:lumora>)
if(WIN32)
  list(APPEND _e2e_args --wine)
endif()
add_test(NAME e2e_engine COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_e2e.py ${_e2e_args})
set_tests_properties(e2e_engine PROPERTIES ENVIRONMENT "${LUMORA_TEST_ENV}" FIXTURES_REQUIRED service
                     RESOURCE_LOCK service LABELS e2e TIMEOUT 600)
