ktq_add_bench(bench_rc_exchange SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_rc_exchange.cpp LIBS ktq_device ktq_sim)
