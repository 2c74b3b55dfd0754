vorex_test(test_decode_paths LABELS data SOURCES test_decode_paths.cpp)
# Reads back what Linux grants (doubled, capped by rmem_max).
if(NOT WIN32)
  vorex_test(test_receive_buffer LABELS unit linux SOURCES test_receive_buffer.cpp)
endif()
