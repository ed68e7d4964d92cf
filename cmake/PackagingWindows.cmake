# One zip per Windows target: the DLL and wavfx.exe, the MinGW import library,
# one for MSVC's linker, the .def, the header, a README for Windows hosts and
# SHA256SUMS over all of it.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VWD_WINDOWS_ARCH i686)
else()
  set(VWD_WINDOWS_ARCH x86_64)
endif()
set(VWD_MSVC_IMPORT_LIB ${PROJECT_BINARY_DIR}/src/VelorikWAVDistortion.lib)
add_custom_command(OUTPUT ${VWD_MSVC_IMPORT_LIB}
  COMMAND ${CMAKE_DLLTOOL} -k -d ${PROJECT_BINARY_DIR}/src/VelorikWAVDistortion.def -D VelorikWAVDistortion.dll
          -l ${VWD_MSVC_IMPORT_LIB}
  DEPENDS ${PROJECT_BINARY_DIR}/src/VelorikWAVDistortion.def
  COMMENT "Import library for MSVC's linker")
add_custom_target(vwd_msvc_import_lib ALL DEPENDS ${VWD_MSVC_IMPORT_LIB})
install(FILES ${VWD_MSVC_IMPORT_LIB} ${PROJECT_BINARY_DIR}/src/VelorikWAVDistortion.def
  DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/README-Windows.txt DESTINATION . COMPONENT Development)
# Last of all, over everything installed before it.
install(CODE [[
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  file(GLOB_RECURSE files RELATIVE "${root}" "${root}/*")
  list(REMOVE_ITEM files SHA256SUMS)
  list(SORT files)
  set(sums "")
  foreach(name IN LISTS files)
    file(SHA256 "${root}/${name}" hash)
    string(APPEND sums "${hash}  ${name}\n")
  endforeach()
  file(WRITE "${root}/SHA256SUMS" "${sums}")
]] COMPONENT Development)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME VelorikWAVDistortion-${PROJECT_VERSION}-windows-${VWD_WINDOWS_ARCH})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
