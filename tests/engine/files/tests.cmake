# Local naming, the state files, cleaning and status, the side files, and
# the file/date/profile platform layer (both builds; wine runs the Windows one).
lumora_test(NAME engine_files_tests SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/naming_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/state_files_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cleaning_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/vprop_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/platform_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/durability_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/two_hosts_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/old_list_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/cache_list_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/file_list_test.cpp)
# The side files are compared with the same golden bytes on both builds.
target_compile_definitions(engine_files_tests PRIVATE EF_GOLDEN_DIR="${CMAKE_CURRENT_LIST_DIR}/golden")
