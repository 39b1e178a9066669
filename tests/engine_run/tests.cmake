# The engine's run side: refresh, downloads, the worker loop on simulated
# time, and the real worker thread with the host's thread working alongside.
lumora_test(NAME engine_run_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/refresh_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/download_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/runloop_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/threads_test.cpp
  LABELS engine)
