ktq_add_fuzzer(fuzz_dump_records ${CMAKE_CURRENT_LIST_DIR}/fuzz_dump_records.cpp
  LIBS ktq_fuzz_replay ktq_diagnostics CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/dump_records SECONDS 20)
