# Engine: pass decisions, shown-file bookkeeping, eviction and the cache list
# at 100k cached records (Google Benchmark, native build).
find_package(benchmark CONFIG QUIET)
if(benchmark_FOUND AND NOT WIN32)
  add_executable(engine_bench ${CMAKE_CURRENT_LIST_DIR}/engine_bench.cpp)
  target_link_libraries(engine_bench PRIVATE lumora_core benchmark::benchmark)
endif()
