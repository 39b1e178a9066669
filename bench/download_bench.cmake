# Service client: image transfers against a reference server, parse time of a
# page. Needs only the service layer.
add_executable(download_bench ${CMAKE_CURRENT_LIST_DIR}/download_bench.cpp)
target_link_libraries(download_bench PRIVATE lumora_service)
if(WIN32)
  target_link_libraries(download_bench PRIVATE psapi)
endif()

# The parse benchmark on Google Benchmark where it is installed (natively).
find_package(benchmark CONFIG QUIET)
if(benchmark_FOUND)
  add_executable(parse_bench ${CMAKE_CURRENT_LIST_DIR}/parse_bench.cpp)
  target_link_libraries(parse_bench PRIVATE lumora_service benchmark::benchmark)
endif()
