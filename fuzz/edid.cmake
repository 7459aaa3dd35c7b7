# The EDID decoder reads whatever a display or a file supplies. Seeds: edge
# cases crafted for it, the EDIDs the virtual converter ships, and the
# real-world corpus when KTQ_EDID_CORPUS names a folder that exists.
set(edid_seeds ${CMAKE_CURRENT_LIST_DIR}/corpus/edid ${PROJECT_SOURCE_DIR}/sim/scenarios/edids)
if(IS_DIRECTORY "${KTQ_EDID_CORPUS}")
  list(APPEND edid_seeds "${KTQ_EDID_CORPUS}")
else()
  message(STATUS "EDID fuzzer: no corpus at ${KTQ_EDID_CORPUS}, seeding from the crafted EDIDs only")
endif()
ktq_add_fuzzer(edid_fuzzer ${CMAKE_CURRENT_LIST_DIR}/edid_fuzzer.cpp
  LIBS ktq_diagnostics
  CORPUS ${edid_seeds}
  SECONDS 30)
