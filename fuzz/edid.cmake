# The EDID decoder reads whatever a display or a file supplies. Seeds: the
# real-world corpus next to the project.
ktq_add_fuzzer(edid_fuzzer ${CMAKE_CURRENT_LIST_DIR}/edid_fuzzer.cpp
  LIBS ktq_diagnostics
  CORPUS ${PROJECT_SOURCE_DIR}/../shared/edid-corpus
  SECONDS 30)
