# Four Debian packages: libvelorikwavdistortion1, libvelorikwavdistortion-dev, wavfx and
# velorik-clip-lv2.
set(VWD_DEB_RUNTIME libvelorikwavdistortion${PROJECT_VERSION_MAJOR})
set(VWD_DEB_VERSION ${PROJECT_VERSION}-1)
set(VWD_DEB_PACKAGES Runtime ${VWD_DEB_RUNTIME} Development libvelorikwavdistortion-dev Tools wavfx
  Plugin velorik-clip-lv2)

# What every Debian package carries: its copyright and its changelog (wavfx's manual
# page and completion are installed with it, in tools/wavfx).
set(VWD_DEB_DATE "Wed, 09 Dec 2026 00:00:00 +0000")
configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian.in ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian @ONLY)
# gzip -n: no name or time stamp inside, so that the package builds the same every time.
execute_process(COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian
  OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz)
set(index 0)
list(LENGTH VWD_DEB_PACKAGES count)
while(index LESS count)
  list(GET VWD_DEB_PACKAGES ${index} component)
  math(EXPR index "${index} + 1")
  list(GET VWD_DEB_PACKAGES ${index} package)
  math(EXPR index "${index} + 1")
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
    COMPONENT ${component})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endwhile()

set(CPACK_GENERATOR DEB)
# Each package's own first description line is its synopsis; no shared one goes before it.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_COMPONENTS_ALL Runtime Development Tools Plugin)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://velorik.example/wavdistortion)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The library's own package is not installed while wavfx's dependencies are worked out.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The loader's cache is refreshed through dpkg's ldconfig trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/triggers)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PLUGIN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${VWD_DEB_RUNTIME} (= ${VWD_DEB_VERSION})")
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "${VWD_DEB_RUNTIME} (= ${VWD_DEB_VERSION})")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "hard-clip distortion and a sound recorder for 16-bit PCM WAV files
VelorikWAVDistortion is a small shared library with three C functions:
WAVDistortion hard-clips the samples of a WAV file at a threshold, and
SoundRecorderStart and SoundRecorderStop record 8000 Hz mono 16-bit audio
from ALSA's default capture device into a WAV file of whole seconds.")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "hard-clip distortion and a sound recorder (development files)
The C header, the link library, a CMake package
(find_package(VelorikWAVDistortion)) and a pkg-config file for
programs that use libVelorikWAVDistortion.")
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "command-line WAV distortion, recording and inspection
wavfx clips 16-bit PCM WAV files of any chunk layout, records from ALSA
capture devices in whole seconds, and shows the format, chunks and peak
levels of WAV files, through the VelorikWAVDistortion library.")
set(CPACK_COMPONENT_PLUGIN_DESCRIPTION "hard clip that holds its ceiling without aliasing (LV2 plug-in)
Velorik Clip, mono and stereo, for LV2 hosts such as Ardour, Carla,
Qtractor and ffmpeg's lv2 filter: a hard clip done at up to 32 times the
sample rate, its peaks settled at the ceiling, optionally the true peak
(ITU-R BS.1770) too. Real-time safe; the latency it reports is exact.")
