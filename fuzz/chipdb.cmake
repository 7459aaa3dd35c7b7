# Compressed register-database streams: the bounded decoder on arbitrary
# bytes, and the encoder/decoder round trip.
ktq_add_fuzzer(lz77_fuzzer ${CMAKE_CURRENT_LIST_DIR}/lz77_fuzzer.cpp
  LIBS ktq_lz77
  CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/lz77)
