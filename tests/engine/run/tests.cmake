# The engine's run side: refresh, downloads, the worker loop on simulated
# time, the liveness rules, and the real worker thread with the host's thread
# working alongside.
lumora_test(NAME engine_run_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/engine_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/refresh_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/download_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/runloop_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/liveness_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/threads_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/steady_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pools_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/pacing_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/logged_states_test.cpp
  LABELS engine)

# Native only: the real module must stay mapped while its worker runs.
if(NOT WIN32)
  lumora_test(NAME engine_run_unload SOURCES ${CMAKE_CURRENT_LIST_DIR}/unload_test.cpp LABELS engine)
  target_compile_definitions(engine_run_unload PRIVATE LUMORA_MODULE_PATH="$<TARGET_FILE:lumora>")
  target_link_libraries(engine_run_unload PRIVATE ${CMAKE_DL_LIBS})
  add_dependencies(engine_run_unload lumora)
endif()
