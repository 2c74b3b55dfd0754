# The C interface: the layer's own decisions in process, its export table,
# and its consumers end to end (plain C, and C# under Mono) beside vorex-sim.
vorex_test(test_c_interface LABELS unit SOURCES test_c_interface.cpp)
target_link_libraries(test_c_interface PRIVATE vorex_c_internal)

add_test(NAME exported_symbols_c COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/exported_symbols.sh $<TARGET_FILE:vorex_c_lib> ${PROJECT_SOURCE_DIR})
set_tests_properties(exported_symbols_c PROPERTIES LABELS unit)

# The simulator is this tree's vorex-sim or, where tools are not built (the
# 32-bit tree), the 64-bit tree's: it is a separate program on the wire.
if(TARGET vorex-sim)
  set(VOREX_SIM_PROGRAM $<TARGET_FILE:vorex-sim>)
else()
  set(VOREX_SIM_PROGRAM ${PROJECT_SOURCE_DIR}/build/vorex/tools/vorex-sim CACHE FILEPATH "vorex-sim for the consumer tests")
endif()
# On Windows the same consumer runs in scripts/ci-windows.sh.
if(NOT WIN32 AND NOT VOREX_SANITIZE)
  set(emulator -)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
  endif()
  separate_arguments(c_flags UNIX_COMMAND "${CMAKE_C_FLAGS}")
  add_test(NAME c_consumer
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/c_consumer.sh ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR} ${VOREX_SIM_PROGRAM}
      ${emulator} ${CMAKE_C_COMPILER} ${c_flags})
  set_tests_properties(c_consumer PROPERTIES LABELS "package;netns" TIMEOUT 180)
endif()
