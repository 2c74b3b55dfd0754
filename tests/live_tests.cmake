# The viewer in headless Chromium, record and replay, and the Wireshark
# dissector under tshark: the built programs end to end against vorex-sim,
# in private network namespaces (root).
if(TARGET vorexctl)
  foreach(case browser view_guards replay dissector)
    add_test(NAME live_${case}
      COMMAND /usr/bin/python3 ${CMAKE_CURRENT_SOURCE_DIR}/live_and_recorded.py ${case}
        --vorexctl $<TARGET_FILE:vorexctl> --sim $<TARGET_FILE:vorex-sim>
        --dissector ${PROJECT_SOURCE_DIR}/tools/wireshark/vorex.lua)
  endforeach()
  set_tests_properties(live_browser live_view_guards PROPERTIES LABELS "browser" TIMEOUT 180)
  set_tests_properties(live_replay live_dissector PROPERTIES LABELS "pcap" TIMEOUT 180)
endif()
