include(CMakePackageConfigHelpers)

install(TARGETS VelorikWAVDistortion wavfx EXPORT VelorikWAVDistortionTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(VWD_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VelorikWAVDistortion)
install(EXPORT VelorikWAVDistortionTargets NAMESPACE VelorikWAVDistortion::
  DESTINATION ${VWD_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VelorikWAVDistortionConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/VelorikWAVDistortionConfig.cmake INSTALL_DESTINATION ${VWD_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VelorikWAVDistortionConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VelorikWAVDistortionConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/VelorikWAVDistortionConfigVersion.cmake DESTINATION ${VWD_CMAKE_DIR})

# Relative to the .pc file itself, so the tree works wherever it is installed.
file(RELATIVE_PATH VWD_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
configure_file(${CMAKE_CURRENT_LIST_DIR}/VelorikWAVDistortion.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/VelorikWAVDistortion.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VelorikWAVDistortion.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
