if(TARGET vorexctl)
  vorex_test(cli_doctor_units LABELS cli SOURCES cli_doctor_units.cpp)
  target_link_libraries(cli_doctor_units PRIVATE vorexctl_core)
endif()
