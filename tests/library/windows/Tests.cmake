# Under Wine: the DLL from a Windows host, then the recorder on Wine's winmm,
# which captures from ALSA (a file-fed device for one test, none for the other).
add_executable(vwd_windows_tests ${CMAKE_CURRENT_LIST_DIR}/WindowsTest.cpp)
target_include_directories(vwd_windows_tests PRIVATE ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR}/tests/library)
target_link_libraries(vwd_windows_tests PRIVATE GTest::gtest_main version)
target_link_options(vwd_windows_tests PRIVATE -static-libgcc -static-libstdc++ -static)
add_dependencies(vwd_windows_tests VelorikWAVDistortion wavfx)
# The DLL beside each program that loads it, as a host ships it: copied at every
# build, so that a change to the DLL alone reaches the copies too.
add_custom_target(vwd_dll_copies ALL
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:VelorikWAVDistortion> $<TARGET_FILE_DIR:vwd_windows_tests>
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/strict
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:VelorikWAVDistortion> ${CMAKE_CURRENT_BINARY_DIR}/strict
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:VelorikWAVDistortion> $<TARGET_FILE_DIR:wavfx>
  DEPENDS VelorikWAVDistortion)
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

# The strict wave input as winmm.dll, in a folder of its own beside the
# programs that should load it instead of Wine's (WINEDLLOVERRIDES=winmm=n).
set(VWD_STRICT_DIR ${CMAKE_CURRENT_BINARY_DIR}/strict)
add_library(strict_winmm SHARED ${PROJECT_SOURCE_DIR}/tests/library/support/StrictWaveIn.cpp)
target_include_directories(strict_winmm PRIVATE ${PROJECT_SOURCE_DIR}/tests/library)
target_compile_definitions(strict_winmm PRIVATE STRICT_WAVE_IN_DLL)
target_link_options(strict_winmm PRIVATE -static-libgcc -static-libstdc++ -static "LINKER:--kill-at")
set_target_properties(strict_winmm PROPERTIES PREFIX "" OUTPUT_NAME winmm RUNTIME_OUTPUT_DIRECTORY ${VWD_STRICT_DIR})

add_executable(vwd_strict_recorder_tests ${PROJECT_SOURCE_DIR}/tests/library/unit/RecorderStrictTest.cpp)
target_include_directories(vwd_strict_recorder_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests/library)
target_link_libraries(vwd_strict_recorder_tests PRIVATE vwd_core vwd_wavein GTest::gtest_main)
target_link_options(vwd_strict_recorder_tests PRIVATE -static-libgcc -static-libstdc++ -static)
set_target_properties(vwd_strict_recorder_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${VWD_STRICT_DIR})
add_dependencies(vwd_strict_recorder_tests strict_winmm)
add_test(NAME windows_recorder_strict_winmm COMMAND vwd_strict_recorder_tests)
# The shipped DLL, loaded by a host, on the strict winmm.
add_custom_command(TARGET vwd_windows_tests POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:vwd_windows_tests> ${VWD_STRICT_DIR})
add_dependencies(vwd_windows_tests strict_winmm)
add_test(NAME windows_library_strict_winmm
  COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} ${VWD_STRICT_DIR}/vwd_windows_tests.exe --gtest_filter=RecorderOnDevice.*)
set_tests_properties(windows_recorder_strict_winmm windows_library_strict_winmm PROPERTIES
  ENVIRONMENT "WINEDLLOVERRIDES=winmm=n" TIMEOUT 300)

# wavfx.exe from the command line: the output rule, the pipes to and from the
# library, standard streams (the CLI suite's rows that do not need POSIX).
add_test(NAME wavfx_cli_wine
  COMMAND ${VWD_TEST_PYTHON} -m unittest -v
    test_distort.DistortTest.test_distort_reports_and_clips
    test_distort.DistortTest.test_distort_through_pipes_fifos_and_standard_streams
    test_output_rule.OutputRuleTest.test_one_output_rule_and_nothing_left_behind
    test_output_rule.OutputRuleTest.test_text_for_other_programs_is_valid
    test_oversample.OversampleTest.test_tones_lose_their_aliases_and_keep_the_clip
    test_oversample.OversampleTest.test_pipes_and_batches_give_what_a_file_gives
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}/tests/wavfx/cli)
set_tests_properties(wavfx_cli_wine PROPERTIES TIMEOUT 600 ENVIRONMENT
  "WAVFX=$<TARGET_FILE:wavfx>;WAVFX_EMULATOR=${CMAKE_CROSSCOMPILING_EMULATOR};WAVFX_WINDOWS=1;WINEPREFIX=${CMAKE_CURRENT_BINARY_DIR}/wineprefix")

# A machine whose kernel runs no 32-bit x86 programs cannot run the i686 ones (cmake/wine-run).
get_property(vwd_windows_tests DIRECTORY PROPERTY TESTS)
set_tests_properties(${vwd_windows_tests} PROPERTIES SKIP_RETURN_CODE 77)
