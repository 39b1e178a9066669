# Test programs and their environment. Under the cross build CTest runs the
# executables through wine (the toolchain's emulator) in a private prefix.
set(LUMORA_SERVICE_DIR ${CMAKE_BINARY_DIR}/service)
set(LUMORA_TEST_ENV
  "LUMORA_TEST_SERVICE_DIR=${LUMORA_SERVICE_DIR}"
  "LUMORA_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
  "LUMORA_BINARY_DIR=${CMAKE_BINARY_DIR}")
if(LUMORA_SANITIZE MATCHES "address")
  list(APPEND LUMORA_TEST_ENV "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0"
       "UBSAN_OPTIONS=print_stacktrace=1")
endif()
if(WIN32)
  list(APPEND LUMORA_TEST_ENV
    "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix" "WINEARCH=win32" "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml=")
endif()

# The stand-in service for the tests that talk to it (one instance per run).
add_test(NAME service_start COMMAND ${CMAKE_SOURCE_DIR}/scripts/service-ctl.sh start ${LUMORA_SERVICE_DIR})
add_test(NAME service_stop COMMAND ${CMAKE_SOURCE_DIR}/scripts/service-ctl.sh stop ${LUMORA_SERVICE_DIR})
set_tests_properties(service_start PROPERTIES FIXTURES_SETUP service)
set_tests_properties(service_stop PROPERTIES FIXTURES_CLEANUP service)

# The one host stand-in of the in-process tests.
add_library(lumora_test_host STATIC ${CMAKE_SOURCE_DIR}/tests/common/test_host.cpp)
target_link_libraries(lumora_test_host PUBLIC lumora_common)
target_include_directories(lumora_test_host PUBLIC ${CMAKE_SOURCE_DIR}/tests)

# lumora_test(NAME ... SOURCES ... [LINK layer target] [SERVICE] [LABELS ...])
# LINK names the lowest layer the test needs (default: the whole plug-in); the
# test then sees only that layer's headers and those below.
function(lumora_test)
  cmake_parse_arguments(T "SERVICE" "NAME;LINK" "SOURCES;LABELS" ${ARGN})
  if(NOT T_LINK)
    set(T_LINK lumora_core)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LINK} lumora_test_host GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${T_NAME} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # Tests set up and read the engine's guarded data directly, on their own
    # thread; the lock analysis is for the product's code.
    target_compile_options(${T_NAME} PRIVATE -Wno-thread-safety-analysis)
  endif()
  # Tests look at the engine's data from a single thread, outside its lock;
  # the locking rules are checked on the product code.
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${T_NAME} PRIVATE -Wno-thread-safety-analysis)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${LUMORA_TEST_ENV}" LABELS "${T_LABELS}")
  if(T_SERVICE)
    set_tests_properties(${T_NAME} PROPERTIES FIXTURES_REQUIRED service RESOURCE_LOCK service)
  endif()
endfunction()

# Every test folder adds its programs in a CMake file of its own.
file(GLOB LUMORA_TEST_CMAKE CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/tests.cmake)
foreach(f ${LUMORA_TEST_CMAKE})
  include(${f})
endforeach()

# Under ASan, LeakSanitizer's tracer crashes at the exit of a stand-in host
# whose worker thread is being torn down ("Tracer caught signal 11"), so the
# runs through vdthost keep ASan's memory checks but not the leak check; the
# in-process test programs keep both.
if(LUMORA_SANITIZE MATCHES "address")
  foreach(t host_contract e2e_engine service_host_page service_hostile_host service_tls_host crash_host_kill)
    if(TEST ${t})
      set_property(TEST ${t} APPEND PROPERTY ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0")
    endif()
  endforeach()
endif()
