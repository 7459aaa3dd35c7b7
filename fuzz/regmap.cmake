# Register map sources reach the virtual converter from scenario files
# ("map_file"), so the parser gets arbitrary text. Seeds: the test fixtures.
ktq_add_fuzzer(regmap_fuzzer ${CMAKE_CURRENT_LIST_DIR}/regmap_fuzzer.cpp
  LIBS ktq_regmap
  CORPUS ${PROJECT_SOURCE_DIR}/tests/data/regmap
  SECONDS 30)
