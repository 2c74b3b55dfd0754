# The platform layer's own tests, and the cases that need what only one
# operating system offers.
if(WIN32)
  vorex_test(test_winsock LABELS unit SOURCES test_winsock.cpp)
else()
  # Socket creation failures provoked through RLIMIT_NOFILE: Linux only.
  vorex_test(test_descriptor_limits LABELS unit linux SOURCES test_descriptor_limits.cpp)
endif()
if(NOT WIN32)
  vorex_test(test_firmware_linux LABELS maintenance linux SOURCES test_firmware_linux.cpp)
endif()
