vorex_test(test_wire LABELS unit SOURCES test_wire.cpp)
vorex_test(test_exchange LABELS exchange SOURCES test_exchange.cpp)
vorex_test(test_lifecycle LABELS unit SOURCES test_lifecycle.cpp)
vorex_test(test_connection LABELS netns SOURCES test_connection.cpp)
vorex_test(test_discovery LABELS netns SOURCES test_discovery.cpp)
vorex_test(test_concurrency_core LABELS concurrency SOURCES test_concurrency_core.cpp)
if(NOT WIN32)
  vorex_test(test_signals LABELS exchange SOURCES test_signals.cpp)
endif()

add_test(NAME exported_symbols COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/exported_symbols.sh $<TARGET_FILE:vorex_lib>)
set_tests_properties(exported_symbols PROPERTIES LABELS unit)

# On Windows the same check is the consumer step of scripts/ci-windows.sh.
if(VOREX_LIBRARY_NAME STREQUAL "vorex" AND NOT VOREX_SANITIZE AND NOT WIN32)
  add_test(NAME package_consumer
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/package_consumer.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(package_consumer PROPERTIES LABELS package)
endif()
