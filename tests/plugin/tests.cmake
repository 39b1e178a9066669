# The host interface in-process: records and feed comparison, logging, the
# setting records, the feed list in the store, the registry, and the message
# table (both builds; wine runs the Windows one).
lumora_test(NAME plugin_tests SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/registry_env.cpp
  ${CMAKE_CURRENT_LIST_DIR}/records_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/feeds_equal_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/log_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/settings_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/feed_store_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/registry_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/messages_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/module_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/message_cause_test.cpp)
target_compile_definitions(plugin_tests PRIVATE LUMORA_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
if(WIN32)
  # The module's resources, so the version and string table read in-process.
  target_sources(plugin_tests PRIVATE ${CMAKE_SOURCE_DIR}/src/plugin/lumora.rc)
else()
  target_sources(plugin_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/registry_file_test.cpp)
  # The registry stand-in writes here instead of the user's own file.
  set_property(TEST plugin_tests APPEND PROPERTY ENVIRONMENT
    "LUMORA_REGISTRY_FILE=${CMAKE_CURRENT_BINARY_DIR}/plugin_tests_registry.ini")
endif()
