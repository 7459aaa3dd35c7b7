ktq_add_bench(bench_dump SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_dump.cpp LIBS ktq_diagnostics ktq_sim)
target_compile_definitions(bench_dump PRIVATE KTQ_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
