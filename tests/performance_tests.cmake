vorex_test(test_decode_paths LABELS data SOURCES test_decode_paths.cpp)
vorex_test(test_receive_buffer LABELS unit SOURCES test_receive_buffer.cpp)
