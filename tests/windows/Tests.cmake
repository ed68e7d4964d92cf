# Under Wine: the DLL from a Windows host, then the recorder on Wine's winmm,
# which captures from ALSA (a file-fed device for one test, none for the other).
add_executable(vwd_windows_tests ${CMAKE_CURRENT_LIST_DIR}/WindowsTest.cpp)
target_include_directories(vwd_windows_tests PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(vwd_windows_tests PRIVATE GTest::gtest_main version)
target_link_options(vwd_windows_tests PRIVATE -static-libgcc -static-libstdc++ -static)
add_dependencies(vwd_windows_tests VelorikWAVDistortion wavfx)
# The DLL beside the test, as a host ships it.
add_custom_command(TARGET vwd_windows_tests POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:VelorikWAVDistortion> $<TARGET_FILE_DIR:vwd_windows_tests>)
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/asound-none.conf "pcm.nothing { type null }\n")
add_test(NAME windows_library COMMAND vwd_windows_tests --gtest_filter=-RecorderOnDevice.*)
set_tests_properties(windows_library PROPERTIES
  ENVIRONMENT "ALSA_CONFIG_PATH=${CMAKE_CURRENT_BINARY_DIR}/asound-none.conf" TIMEOUT 300)
add_test(NAME windows_recorder_winmm COMMAND vwd_windows_tests --gtest_filter=RecorderOnDevice.*)
set_tests_properties(windows_recorder_winmm PROPERTIES
  ENVIRONMENT "ALSA_CONFIG_PATH=${CMAKE_CURRENT_LIST_DIR}/asound-file.conf" TIMEOUT 300)

add_executable(vwd_winmm_recorder_tests ${CMAKE_CURRENT_LIST_DIR}/WinmmRecorderTest.cpp)
target_link_libraries(vwd_winmm_recorder_tests PRIVATE vwd_core vwd_wavein GTest::gtest_main)
target_link_options(vwd_winmm_recorder_tests PRIVATE -static-libgcc -static-libstdc++ -static)
add_test(NAME windows_recorder_stop_protocol COMMAND vwd_winmm_recorder_tests)
set_tests_properties(windows_recorder_stop_protocol PROPERTIES
  ENVIRONMENT "ALSA_CONFIG_PATH=${CMAKE_CURRENT_LIST_DIR}/asound-file.conf" TIMEOUT 300)
