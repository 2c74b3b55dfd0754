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

# The C# wrapper and its example, compiled with Mono's mcs; the test runs
# under mono against this tree's libvorex_c.
if(NOT WIN32 AND NOT VOREX_SANITIZE AND VOREX_LIBRARY_NAME STREQUAL "vorex")
  find_program(VOREX_MCS mcs)
  find_program(VOREX_MONO mono)
  if(VOREX_MCS AND VOREX_MONO)
    set(wrapper ${PROJECT_SOURCE_DIR}/bindings/dotnet/Vorex.cs)
    set(dotnet_test ${CMAKE_CURRENT_BINARY_DIR}/vorex-dotnet-test.exe)
    set(dotnet_example ${CMAKE_CURRENT_BINARY_DIR}/vorex-dotnet-example.exe)
    add_custom_command(OUTPUT ${dotnet_test}
      COMMAND ${VOREX_MCS} -nologo -warnaserror -out:${dotnet_test} ${wrapper} ${CMAKE_CURRENT_SOURCE_DIR}/dotnet/SessionTest.cs
      DEPENDS ${wrapper} ${CMAKE_CURRENT_SOURCE_DIR}/dotnet/SessionTest.cs)
    add_custom_command(OUTPUT ${dotnet_example}
      COMMAND ${VOREX_MCS} -nologo -warnaserror -out:${dotnet_example} ${wrapper} ${PROJECT_SOURCE_DIR}/bindings/dotnet/Example.cs
      DEPENDS ${wrapper} ${PROJECT_SOURCE_DIR}/bindings/dotnet/Example.cs)
    add_custom_target(vorex_dotnet ALL DEPENDS ${dotnet_test} ${dotnet_example})
    add_test(NAME dotnet_session
      COMMAND ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=$<TARGET_FILE_DIR:vorex_c_lib>:$<TARGET_FILE_DIR:vorex_lib>
        ${PROJECT_SOURCE_DIR}/scripts/with-simulated-sensor.sh ${VOREX_SIM_PROGRAM} --serial 4242 -- ${VOREX_MONO} ${dotnet_test})
  else()
    add_test(NAME dotnet_session COMMAND sh -c "echo 'needs mono-mcs and mono-runtime (scripts/setup-debian.sh)'; exit 1")
  endif()
  set_tests_properties(dotnet_session PROPERTIES LABELS "dotnet;netns" TIMEOUT 180)
endif()
