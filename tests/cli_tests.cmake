# vorexctl is built only where the tools are (the 64-bit tree).
if(TARGET vorexctl)
  vorex_test(cli_units LABELS cli SOURCES cli_units.cpp)
  target_link_libraries(cli_units PRIVATE vorexctl_core)

  # Runs the built program against the simulated sensor, each case inside a
  # private network namespace of its own.
  vorex_test(cli_commands LABELS cli SOURCES cli_commands.cpp)
  find_package(TIFF REQUIRED)
  target_link_libraries(cli_commands PRIVATE vorexctl_core TIFF::TIFF)
  target_compile_definitions(cli_commands PRIVATE VOREXCTL_PROGRAM="$<TARGET_FILE:vorexctl>"
    VOREX_SIM_PROGRAM="$<TARGET_FILE:vorex-sim>")
  add_dependencies(cli_commands vorexctl vorex-sim)

  # The man pages the build makes from the programs' --help.
  add_test(NAME man_pages_name_every_command
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/man_pages.sh $<TARGET_FILE:vorexctl> ${PROJECT_BINARY_DIR}/tools/vorexctl.1
      $<TARGET_FILE:vorex-sim> ${PROJECT_BINARY_DIR}/tools/vorex-sim.1)
  set_tests_properties(man_pages_name_every_command PROPERTIES LABELS cli)
endif()
