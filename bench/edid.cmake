ktq_add_bench(bench_edid SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_edid.cpp LIBS ktq_diagnostics)
target_compile_definitions(bench_edid PRIVATE KTQ_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
