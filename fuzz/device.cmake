ktq_add_fuzzer(fuzz_scenario ${CMAKE_CURRENT_LIST_DIR}/fuzz_scenario.cpp
  LIBS ktq_sim CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/scenario ${PROJECT_SOURCE_DIR}/sim/scenarios SECONDS 20)

# Device-reply fuzzers share one replaying HID backend.
add_library(ktq_fuzz_replay STATIC ${CMAKE_CURRENT_LIST_DIR}/replay_backend.cpp)
target_include_directories(ktq_fuzz_replay PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(ktq_fuzz_replay PUBLIC ktq_device)
ktq_add_fuzzer(fuzz_rc_replies ${CMAKE_CURRENT_LIST_DIR}/fuzz_rc_replies.cpp
  LIBS ktq_fuzz_replay ktq_device CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/rc_replies SECONDS 20)
ktq_add_fuzzer(fuzz_i2c_replies ${CMAKE_CURRENT_LIST_DIR}/fuzz_i2c_replies.cpp
  LIBS ktq_fuzz_replay ktq_i2c_master CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/i2c_replies SECONDS 20)
