# A month in a minute: the real engine passes on simulated time against a
# simulated service and host, with the liveness invariants checked at every
# step (both builds; the Windows one under wine).
lumora_test(NAME liveness_sim SOURCES ${CMAKE_CURRENT_LIST_DIR}/sim_test.cpp LABELS engine sim)
if(WIN32)
  # Under wine every file call is a round trip to the wine server: a
  # simulated day costs about half a second there, so the Windows build runs
  # each scenario over two days (the native build over the full month).
  set_property(TEST liveness_sim APPEND PROPERTY ENVIRONMENT "LUMORA_SIM_DAYS=2")
endif()
