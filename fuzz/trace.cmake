# Wire traces that support replays: the line reader, decompression and the
# byte map that explains recorded reports.
ktq_add_fuzzer(fuzz_wire_trace ${CMAKE_CURRENT_LIST_DIR}/fuzz_wire_trace.cpp
  LIBS ktq_sim CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/wire_trace SECONDS 20)
