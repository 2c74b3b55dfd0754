vorex_test(test_decode_paths LABELS data SOURCES test_decode_paths.cpp)
