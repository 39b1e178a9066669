# Adds the fuzz targets to the whole tree without changing the top-level
# CMakeLists.txt: scripts/fuzz.sh passes this file as CMAKE_PROJECT_INCLUDE,
# and the targets are declared once the layer targets they link exist.
set(LUMORA_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL include ${LUMORA_FUZZ_DIR}/targets.cmake)
