# Test programs and their environment. Under the cross build the Windows
# programs run under the wine that scripts/winenv.sh names for the build's
# architecture, in a private prefix of the build tree.
#
# Labels say what kind of test an entry is; scripts pick tests by label, never
# by name:
#   fast    the quick set (every entry but the long runs)
#   long    runs for many minutes (the end-to-end liveness run)
#   host    drives the real module through the stand-in host (vdthost)
#   standin starts a stand-in service of its own
#   wine    a Windows program run under wine
#   ui      real dialogs on a private X display
#   static  looks at the built module only (runs no Windows program)
#   engine, service, sim, crash, e2e, transfer: what the test is about
set(LUMORA_TEST_ENV
  "LUMORA_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  "LUMORA_BINARY_DIR=${CMAKE_BINARY_DIR}")
if(LUMORA_SANITIZE MATCHES "address")
  list(APPEND LUMORA_TEST_ENV "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0"
       "UBSAN_OPTIONS=print_stacktrace=1")
endif()
if(WIN32)
  # Which wine, server, prefix and binutils: asked of the one script that knows.
  execute_process(COMMAND bash ${CMAKE_SOURCE_DIR}/scripts/winenv.sh --env ${CMAKE_SYSTEM_PROCESSOR}
                          ${CMAKE_BINARY_DIR}/wineprefix
                  OUTPUT_VARIABLE _wine_env OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  string(REPLACE "\n" ";" _wine_env "${_wine_env}")
  foreach(kv ${_wine_env})
    list(APPEND LUMORA_TEST_ENV "${kv}")
    if(kv MATCHES "^(LUMORA_WINE|LUMORA_OBJDUMP)=(.*)$")
      set(${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
    endif()
  endforeach()
  set(LUMORA_WINE_RUN ${CMAKE_SOURCE_DIR}/cmake/wine-run.sh)
else()
  set(LUMORA_WINE_RUN "")
endif()

# The one host stand-in of the in-process tests.
add_library(lumora_test_host STATIC ${CMAKE_SOURCE_DIR}/tests/support/test_host.cpp)
target_link_libraries(lumora_test_host PUBLIC lumora_common)
target_include_directories(lumora_test_host PUBLIC ${CMAKE_SOURCE_DIR}/tests)

# lumora_add_test(NAME name COMMAND cmd... [SERVICE] [LONG] [WINE] [LABELS ...] [TIMEOUT s] [ENV k=v...])
# Every test entry is made here. SERVICE starts a stand-in service of the
# test's own around it (so such tests run side by side); WINE marks a command
# that runs a Windows program; LONG leaves it out of the quick set.
function(lumora_add_test)
  cmake_parse_arguments(T "SERVICE;LONG;WINE" "NAME;TIMEOUT" "COMMAND;LABELS;ENV" ${ARGN})
  set(cmd ${T_COMMAND})
  set(labels ${T_LABELS})
  if(T_SERVICE)
    list(PREPEND cmd ${CMAKE_SOURCE_DIR}/scripts/service-ctl.sh run)
    list(APPEND labels standin)
  endif()
  if(T_LONG)
    list(APPEND labels long)
  else()
    list(APPEND labels fast)
  endif()
  if(T_WINE)
    list(APPEND labels wine)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${cmd})
  set(env ${LUMORA_TEST_ENV} ${T_ENV})
  if(LUMORA_SANITIZE MATCHES "address" AND "host" IN_LIST labels)
    # LeakSanitizer's tracer crashes at the exit of a stand-in host whose
    # worker thread is being torn down ("Tracer caught signal 11"): runs
    # through vdthost keep ASan's memory checks but not the leak check; the
    # in-process test programs keep both.
    list(APPEND env "ASAN_OPTIONS=detect_leaks=0")
  endif()
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${env}" LABELS "${labels}")
  if(T_TIMEOUT)
    set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  endif()
endfunction()

# lumora_test(NAME ... SOURCES ... [LINK layer target] [SERVICE] [LONG] [LABELS ...] [TIMEOUT s])
# A GoogleTest program. LINK names the lowest layer the test needs (default:
# the whole plug-in); the test then sees only that layer's headers and those
# below.
function(lumora_test)
  cmake_parse_arguments(T "SERVICE;LONG" "NAME;LINK;TIMEOUT" "SOURCES;LABELS" ${ARGN})
  if(NOT T_LINK)
    set(T_LINK lumora_core)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LINK} lumora_test_host GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  set(flags "")
  if(T_SERVICE)
    list(APPEND flags SERVICE)
  endif()
  if(T_LONG)
    list(APPEND flags LONG)
  endif()
  if(WIN32)
    list(APPEND flags WINE)
  endif()
  set(timeout "")
  if(T_TIMEOUT)
    set(timeout TIMEOUT ${T_TIMEOUT})
  endif()
  lumora_add_test(NAME ${T_NAME} COMMAND ${LUMORA_WINE_RUN} $<TARGET_FILE:${T_NAME}> ${flags} LABELS ${T_LABELS} ${timeout})
endfunction()

# The arguments of the Python tests that drive the real module through the
# stand-in host: the host, the module and, on the Windows build, --wine (the
# wine itself comes from the test environment).
set(LUMORA_HOST_ARGS --host $<TARGET_FILE:vdthost> --module $<TARGET_FILE:lumora>)
set(LUMORA_HOST_WINE "")
if(WIN32)
  list(APPEND LUMORA_HOST_ARGS --wine)
  set(LUMORA_HOST_WINE WINE)
endif()

# Every test folder adds its programs in a CMake file of its own.
file(GLOB LUMORA_TEST_CMAKE CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/tests.cmake ${CMAKE_SOURCE_DIR}/tests/*/*/tests.cmake)
foreach(f ${LUMORA_TEST_CMAKE})
  include(${f})
endforeach()
