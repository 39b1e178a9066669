# Window-free logic of the configuration dialogs (both builds; wine runs the
# Windows one).
lumora_test(NAME ui_logic_tests LINK lumora_ui SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/description_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/feed_editor_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/input_rules_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/feed_list_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dialog_outcome_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/help_pictures_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/help_coverage_test.cpp)
# For runs by hand, without the test environment's LUMORA_SOURCE_DIR.
target_compile_definitions(ui_logic_tests PRIVATE LUMORA_TEST_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
