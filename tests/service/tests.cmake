# Service client: encoders and parsers without a network, then requests and
# transfers against the stand-in service on loopback.
lumora_test(NAME service_unit_tests LINK lumora_service
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/params_test.cpp ${CMAKE_CURRENT_LIST_DIR}/parse_test.cpp
  LABELS service)
lumora_test(NAME service_tests LINK lumora_service
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/requests_test.cpp ${CMAKE_CURRENT_LIST_DIR}/download_test.cpp
  SERVICE LABELS service)
if(WIN32)
  # The module's string table, so the error texts read in-process.
  target_sources(service_unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/src/plugin/lumora.rc)
  target_sources(service_tests PRIVATE ${CMAKE_SOURCE_DIR}/src/plugin/lumora.rc)
  # The resource script alone sees the plug-in's folders (its dialogs and texts).
  foreach(t service_unit_tests service_tests)
    target_include_directories(${t} PRIVATE $<$<COMPILE_LANGUAGE:RC>:${CMAKE_BINARY_DIR}/layers/plugin>)
  endforeach()
endif()

# The module loaded by the stand-in host requests and parses a real page.
lumora_add_test(NAME service_host_page
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/host_page_test.py ${LUMORA_HOST_ARGS}
  SERVICE ${LUMORA_HOST_WINE} LABELS service host)

# Hostile answers and non-ASCII text through the module in the stand-in host:
# a file name with a NUL and "\..\.." stays in the image folder; a search text
# and a user name reach the service as UTF-8.
lumora_add_test(NAME service_hostile_host
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/hostile_host_test.py ${LUMORA_HOST_ARGS}
  SERVICE ${LUMORA_HOST_WINE} LABELS service host TIMEOUT 300)

# TLS with certificates openssl makes for the run: untrusted servers are
# refused on both builds; natively a trusted CA is accepted and https never
# redirects to http.
lumora_add_test(NAME service_tls_host
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/tls_host_test.py ${LUMORA_HOST_ARGS}
  ${LUMORA_HOST_WINE} LABELS service host TIMEOUT 300)
