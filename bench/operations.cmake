# A whole firmware update of a type-6 image over the virtual converter: host
# CPU per chunk without latency, and wall time against the converter's
# modelled USB latency.
ktq_add_bench(bench_operations SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_operations.cpp LIBS ktq_operations ktq_sim)
