# The scan's assembly: synthetic profiles with known height maps.
vorex_test(scan_assembly LABELS scan SOURCES test_scan_assembly.cpp)
target_link_libraries(scan_assembly PRIVATE vorex_scan)
