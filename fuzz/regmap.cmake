# Register map sources reach the virtual converter from scenario files
# ("map_file"), so the parser gets arbitrary text. Seeds: the grown corpus and the test
# fixtures.
ktq_add_fuzzer(regmap_fuzzer ${CMAKE_CURRENT_LIST_DIR}/regmap_fuzzer.cpp
  LIBS ktq_regmap
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/regmap ${PROJECT_SOURCE_DIR}/tests/data/regmap
  SECONDS 30)
