# The window's main thread during a type-6 update on the virtual converter:
# how long its event loop is blocked at most, how often the progress is
# repainted, and the update's time against the command line's.
if(TARGET ktq_app_window)
  find_package(Qt6 REQUIRED COMPONENTS Test)
  ktq_add_bench(bench_app_responsiveness SOURCES ${CMAKE_CURRENT_LIST_DIR}/bench_app_responsiveness.cpp
    LIBS ktq_app_window ktq_sim Qt6::Test)
endif()
