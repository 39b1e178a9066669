# Failing file operations one at a time, and processes ended at every file
# operation of a run: the cache list and the image folder must always agree
# (both builds; wine runs the Windows one).
lumora_test(NAME crash_tests LINK lumora_engine SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/fault_loop_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/crash_test.cpp
  SERVICE LABELS crash TIMEOUT 300)

# The stand-in host killed with SIGKILL at many points of a run, then run again
# on the same folder (Windows build: both under wine).
lumora_add_test(NAME crash_host_kill
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_host_kill.py ${LUMORA_HOST_ARGS}
  SERVICE ${LUMORA_HOST_WINE} LABELS crash host TIMEOUT 300)
