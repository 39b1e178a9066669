# End to end: the real module loaded by the stand-in host, against the
# stand-in service (Windows build: both run under wine).
set(_e2e_args --host $<TARGET_FILE:vdthost> --module $<TARGET_FILE:lumora>)
if(WIN32)
  list(APPEND _e2e_args --wine)
endif()
add_test(NAME e2e_engine COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_e2e.py ${_e2e_args})
set_tests_properties(e2e_engine PROPERTIES ENVIRONMENT "${LUMORA_TEST_ENV}" FIXTURES_REQUIRED service
                     RESOURCE_LOCK service LABELS e2e TIMEOUT 600)

# The folder keeps changing: one host run of about ten minutes (150 s of
# showing, a five-minute outage of the service, two minutes of recovery).
add_test(NAME e2e_liveness COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_liveness_e2e.py ${_e2e_args})
set_tests_properties(e2e_liveness PROPERTIES ENVIRONMENT "${LUMORA_TEST_ENV}" FIXTURES_REQUIRED service
                     RESOURCE_LOCK service LABELS "e2e;long" TIMEOUT 780)
if(LUMORA_SANITIZE MATCHES "address")
  # As for the other runs through vdthost: LeakSanitizer's tracer crashes at the host's exit.
  set_property(TEST e2e_liveness APPEND PROPERTY ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0")
endif()
