# Service client: image transfer throughput against curl, parse time of a page.
add_executable(download_bench ${CMAKE_CURRENT_LIST_DIR}/download_bench.cpp)
target_link_libraries(download_bench PRIVATE lumora_core)
if(WIN32)
  target_link_libraries(download_bench PRIVATE psapi)
endif()

# The parse benchmark on Google Benchmark where it is installed (natively).
find_package(benchmark CONFIG QUIET)
if(benchmark_FOUND)
  add_executable(parse_bench ${CMAKE_CURRENT_LIST_DIR}/parse_bench.cpp)
  target_link_libraries(parse_bench PRIVATE lumora_core benchmark::benchmark)
endif()
