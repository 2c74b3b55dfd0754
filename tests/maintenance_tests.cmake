vorex_test(test_firmware LABELS maintenance SOURCES test_firmware.cpp)
vorex_test(test_log LABELS maintenance SOURCES test_log.cpp)
vorex_test(test_sim_maintenance LABELS maintenance SOURCES test_sim_maintenance.cpp)
vorex_test(test_firmware_slow LABELS slow SOURCES test_firmware_slow.cpp)
