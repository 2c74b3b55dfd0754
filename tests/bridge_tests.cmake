# vorex-bridge, where it is built: what it decides, and the built program
# end to end across private network namespaces joined by a bridge device,
# with a DDS subscriber compiled from the same IDL.
if(TARGET vorex-bridge)
  vorex_test(bridge_units LABELS bridge SOURCES bridge/units.cpp)
  target_link_libraries(bridge_units PRIVATE vorex_bridge_core)

  add_executable(bridge_listener bridge/listener.cpp)
  target_link_libraries(bridge_listener PRIVATE vorex_sim vorex_bridge_core)
  vorex_warnings(bridge_listener)

  foreach(case cross_host silent_sensor reconnect stop)
    add_test(NAME bridge_${case}
      COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/bridge/end_to_end.sh ${case} $<TARGET_FILE:vorex-bridge>
        $<TARGET_FILE:vorex-sim> $<TARGET_FILE:bridge_listener>)
    # Alone, so that no other test's load starves the sensors it counts.
    set_tests_properties(bridge_${case} PROPERTIES LABELS bridge TIMEOUT 180 RUN_SERIAL TRUE)
  endforeach()

  add_test(NAME bridge_man_page COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/bridge/man_page.sh $<TARGET_FILE:vorex-bridge>
    ${PROJECT_BINARY_DIR}/tools/bridge/vorex-bridge.1)
  set_tests_properties(bridge_man_page PROPERTIES LABELS bridge)
endif()
