vorex_test(test_profile LABELS data SOURCES test_profile.cpp)
vorex_test(test_image LABELS data SOURCES test_image.cpp)
vorex_test(test_data_sim LABELS data SOURCES test_data_sim.cpp)
vorex_test(test_data_concurrency LABELS concurrency data SOURCES test_data_concurrency.cpp)
