# The dialogs driven the way a user works them: a test program loads the real
# module like a host, opens message 5 and works the windows by control id
# (Windows build only; the wrapper runs it under wine on its own Xvfb).
if(WIN32)
  add_executable(ui_dialog_tests
    ${CMAKE_CURRENT_LIST_DIR}/harness.cpp
    ${CMAKE_CURRENT_LIST_DIR}/dialog_test.cpp)
  target_include_directories(ui_dialog_tests PRIVATE ${CMAKE_BINARY_DIR}/layers/ui ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(ui_dialog_tests PRIVATE GTest::gtest JsonCpp::JsonCpp wininet comctl32 ole32 user32)
  # The module and its help file must be built before the test runs them.
  add_dependencies(ui_dialog_tests lumora)
  if(TARGET lumora_help)
    add_dependencies(ui_dialog_tests lumora_help)
  endif()
  # Prefixes of their own: the tests' X displays and registry writes stay
  # apart from the other wine tests, and their wineservers can be stopped safely.
  set(UI_TEST_ENV "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-ui"
    "LUMORA_SCREENSHOT_DIR=${CMAKE_BINARY_DIR}/screenshots")
  # In shards that run side by side, each on its own display and prefix: the
  # dialogs mostly wait for windows and the service, so shards overlap well.
  set(UI_DIALOG_SHARDS 3)
  math(EXPR _last "${UI_DIALOG_SHARDS} - 1")
  foreach(i RANGE ${_last})
    lumora_add_test(NAME ui_dialog_tests_${i}
      COMMAND ${CMAKE_CURRENT_LIST_DIR}/run-with-display.sh $<TARGET_FILE:ui_dialog_tests> $<TARGET_FILE:lumora>
      SERVICE WINE LABELS ui TIMEOUT 900
      ENV "WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix-ui-${i}" "LUMORA_SCREENSHOT_DIR=${CMAKE_BINARY_DIR}/screenshots"
          "GTEST_TOTAL_SHARDS=${UI_DIALOG_SHARDS}" "GTEST_SHARD_INDEX=${i}")
  endforeach()

  # The list control helpers on a real list view window (linked with the core).
  # The dialog base's guard is tried on a template of its own resources.
  add_executable(ui_list_tests ${CMAKE_CURRENT_LIST_DIR}/list_ctrl_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/modal_guard_test.cpp ${CMAKE_SOURCE_DIR}/src/ui/win32/dialogs.rc)
  target_link_libraries(ui_list_tests PRIVATE lumora_core GTest::gtest GTest::gtest_main)
  lumora_resource_depends(${CMAKE_SOURCE_DIR}/src/ui/win32/dialogs.rc)
  target_include_directories(ui_list_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  lumora_add_test(NAME ui_list_tests
    COMMAND ${CMAKE_CURRENT_LIST_DIR}/run-with-display.sh $<TARGET_FILE:ui_list_tests>
    WINE LABELS ui TIMEOUT 300 ENV ${UI_TEST_ENV})
endif()
