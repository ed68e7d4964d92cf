# Install rules in parts, as Debian splits a library: Runtime (the shared
# library), Development (header, link library, CMake package, pkg-config file,
# section-3 pages, on Windows the import libraries and the .def), Tools (wavfx)
# and Plugin (the LV2 bundle). CPack makes
# Debian packages of them on Linux and a zip on Windows (./run package).
include(CMakePackageConfigHelpers)

install(TARGETS VelorikWAVDistortion EXPORT VelorikWAVDistortionTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)
install(TARGETS wavfx RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tools)
if(NOT WIN32)
  install(FILES ${PROJECT_BINARY_DIR}/tools/wavfx/wavfx.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT Tools)
  install(FILES ${PROJECT_BINARY_DIR}/tools/wavfx/wavfx.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
    RENAME wavfx COMPONENT Tools)
endif()

# The library's section-3 pages, in the development package as Debian's libraries ship them.
if(NOT WIN32)
  set(VWD_MAN3)
  foreach(page WAVDistortion.3 SoundRecorderStart.3 SoundRecorderStop.3)
    add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/man3/${page}.gz
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man3
      COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/docs/man/${page} > ${PROJECT_BINARY_DIR}/man3/${page}.gz
      DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page})
    list(APPEND VWD_MAN3 ${PROJECT_BINARY_DIR}/man3/${page}.gz)
  endforeach()
  add_custom_target(library_manual ALL DEPENDS ${VWD_MAN3})
  install(FILES ${VWD_MAN3} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3 COMPONENT Development)
endif()

# The LV2 bundle where Debian's hosts look: <prefix>/lib/lv2, the same on every architecture.
if(TARGET velorik_clip)
  install(TARGETS velorik_clip LIBRARY DESTINATION lib/lv2/velorik-clip.lv2 COMPONENT Plugin)
  install(FILES ${VWD_LV2_BUNDLE}/manifest.ttl ${VWD_LV2_BUNDLE}/velorik-clip.ttl
    DESTINATION lib/lv2/velorik-clip.lv2 COMPONENT Plugin)
endif()

set(VWD_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/VelorikWAVDistortion)
install(EXPORT VelorikWAVDistortionTargets NAMESPACE VelorikWAVDistortion::
  DESTINATION ${VWD_CMAKE_DIR} COMPONENT Development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/VelorikWAVDistortionConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/VelorikWAVDistortionConfig.cmake INSTALL_DESTINATION ${VWD_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VelorikWAVDistortionConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VelorikWAVDistortionConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/VelorikWAVDistortionConfigVersion.cmake DESTINATION ${VWD_CMAKE_DIR}
  COMPONENT Development)

# Installed to /usr (the Debian packages), plain paths, which pkg-config knows as the
# system's and leaves out; elsewhere relative to the .pc file itself, so that the
# tree works wherever it is unpacked.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(VWD_PC_PREFIX /usr)
else()
  file(RELATIVE_PATH VWD_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
  set(VWD_PC_PREFIX "\${pcfiledir}/${VWD_PC_TO_PREFIX}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/VelorikWAVDistortion.pc.in
  ${CMAKE_CURRENT_BINARY_DIR}/VelorikWAVDistortion.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/VelorikWAVDistortion.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)

set(CPACK_PACKAGE_NAME VelorikWAVDistortion)
set(CPACK_PACKAGE_VENDOR Velorik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Velorik developers <developers@velorik.example>")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
else()
  include(${CMAKE_CURRENT_LIST_DIR}/PackagingDebian.cmake)
endif()
include(CPack)
