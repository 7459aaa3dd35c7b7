ktq_add_fuzzer(fuzz_scenario ${CMAKE_CURRENT_LIST_DIR}/fuzz_scenario.cpp
  LIBS ktq_sim CORPUS ${PROJECT_SOURCE_DIR}/sim/scenarios SECONDS 20)
ktq_add_fuzzer(fuzz_rc_replies ${CMAKE_CURRENT_LIST_DIR}/fuzz_rc_replies.cpp
  LIBS ktq_device CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/rc_replies SECONDS 20)
