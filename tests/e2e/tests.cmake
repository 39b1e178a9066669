# End to end: the real module loaded by the stand-in host, against the
# stand-in service (Windows build: both run under wine).
lumora_add_test(NAME e2e_engine
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_e2e.py ${LUMORA_HOST_ARGS}
  SERVICE ${LUMORA_HOST_WINE} LABELS e2e host TIMEOUT 600)

# The folder keeps changing: one host run of about ten minutes (150 s of
# showing, a five-minute outage of the service, two minutes of recovery).
lumora_add_test(NAME e2e_liveness
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_liveness_e2e.py ${LUMORA_HOST_ARGS}
  SERVICE LONG ${LUMORA_HOST_WINE} LABELS e2e host TIMEOUT 780)

# Two hosts (kinds 0 and 1) on one image folder, started and stopped in a mix,
# the owner killed hard once: the list and the folder agree at the end.
lumora_add_test(NAME e2e_two_hosts
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_two_hosts_e2e.py ${LUMORA_HOST_ARGS}
  SERVICE ${LUMORA_HOST_WINE} LABELS e2e host TIMEOUT 300)
