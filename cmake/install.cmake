# Installs the header, the library (vorex or vorexd, whichever this tree
# builds), a CMake package and a pkg-config file. Installing the 64-bit and
# the 32-bit tree into one prefix gives a package that serves both.
include(CMakePackageConfigHelpers)

set(VOREX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/vorex)

install(TARGETS vorex_lib EXPORT vorex-${VOREX_LIBRARY_NAME}-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS vorex_c_lib EXPORT vorex-${VOREX_LIBRARY_NAME}-targets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library)
install(FILES include/vorex.h include/vorex_c.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT library)
if(WIN32)
  install(FILES ${VOREX_C_MSVC_LIB} cmake/vorex_c.def DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library)
endif()
install(EXPORT vorex-${VOREX_LIBRARY_NAME}-targets NAMESPACE vorex::
  FILE vorex-${VOREX_LIBRARY_NAME}-targets.cmake DESTINATION ${VOREX_CMAKE_DIR} COMPONENT library)

configure_package_config_file(cmake/vorex-config.cmake.in ${CMAKE_CURRENT_BINARY_DIR}/vorex-config.cmake
  INSTALL_DESTINATION ${VOREX_CMAKE_DIR})
# The config file picks the library matching the consumer's pointer size,
# so the version check itself must not.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/vorex-config-version.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vorex-config.cmake ${CMAKE_CURRENT_BINARY_DIR}/vorex-config-version.cmake
  DESTINATION ${VOREX_CMAKE_DIR} COMPONENT library)

# Relative to the .pc file, so an install under any prefix finds itself.
file(RELATIVE_PATH VOREX_PC_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
configure_file(cmake/vorex.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${VOREX_LIBRARY_NAME}.pc @ONLY)
configure_file(cmake/vorex_c.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${VOREX_C_NAME}.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${VOREX_LIBRARY_NAME}.pc ${CMAKE_CURRENT_BINARY_DIR}/${VOREX_C_NAME}.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT library)

set(CPACK_PACKAGE_NAME "vorex")
set(CPACK_PACKAGE_VENDOR "vorex")
set(CPACK_PACKAGE_CONTACT "vorex maintainers <vorex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Client library for network laser profile sensors, with simulator and CLI")
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libstdc++6, libc6, libpng16-16")
set(CPACK_DEBIAN_PACKAGE_SECTION "libs")
include(CPack)
