# The platform's body reads: the read-size policy (pure, both builds) and whole
# bodies read through every read strategy against the stand-in service (under
# wine this is WinINet's; natively libcurl's, whatever the strategy).
lumora_test(NAME transfer_unit_tests LINK lumora_platform
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/read_window_test.cpp LABELS transfer)
lumora_test(NAME transfer_tests LINK lumora_service
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/body_test.cpp SERVICE LABELS transfer)
# Image answers without a length (chunked, or ended by the connection's end):
# the size cap holds for them too (WinINet's reads under wine).
lumora_test(NAME transfer_unsized_tests LINK lumora_service
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/unsized_image_test.cpp SERVICE LABELS transfer)
