# LZ77 expansion of the embedded databases against a bit-at-a-time baseline,
# and whole database loads over the virtual converter.
ktq_add_bench(bench_chipdb
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_chipdb.cpp ${CMAKE_CURRENT_LIST_DIR}/lz77_baseline.cpp
  LIBS ktq_chipdb ktq_sim)
