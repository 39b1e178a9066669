# libFuzzer targets, one per reader of outside input. Built natively with
# clang and LUMORA_SANITIZE=fuzzer-no-link,address,undefined; scripts/fuzz.sh
# configures that and includes this file through hook.cmake.
set(LUMORA_FUZZ_TARGETS)

# lumora_fuzz(NAME SOURCES... LIBS...)
function(lumora_fuzz name)
  cmake_parse_arguments(F "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${F_SOURCES})
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  set(LUMORA_FUZZ_TARGETS ${LUMORA_FUZZ_TARGETS} ${name} PARENT_SCOPE)
endfunction()

lumora_fuzz(fuzz_search_answer SOURCES ${LUMORA_FUZZ_DIR}/fuzz_search_answer.cpp LIBS lumora_service)
lumora_fuzz(fuzz_collections_answer SOURCES ${LUMORA_FUZZ_DIR}/fuzz_collections_answer.cpp
            LIBS lumora_service)
lumora_fuzz(fuzz_encoders SOURCES ${LUMORA_FUZZ_DIR}/fuzz_encoders.cpp LIBS lumora_service)
lumora_fuzz(fuzz_local_name SOURCES ${LUMORA_FUZZ_DIR}/fuzz_local_name.cpp LIBS lumora_engine)
lumora_fuzz(fuzz_cache_list SOURCES ${LUMORA_FUZZ_DIR}/fuzz_cache_list.cpp LIBS lumora_engine)
lumora_fuzz(fuzz_paging SOURCES ${LUMORA_FUZZ_DIR}/fuzz_paging.cpp LIBS lumora_engine)
lumora_fuzz(fuzz_host_ini SOURCES ${LUMORA_FUZZ_DIR}/fuzz_host_ini.cpp ${CMAKE_SOURCE_DIR}/host/ini.cpp
            ${CMAKE_SOURCE_DIR}/host/host_platform.cpp LIBS ${CMAKE_DL_LIBS})
target_include_directories(fuzz_host_ini PRIVATE ${CMAKE_SOURCE_DIR}/host ${CMAKE_BINARY_DIR}/layers/common)

add_custom_target(fuzz_all DEPENDS ${LUMORA_FUZZ_TARGETS})
