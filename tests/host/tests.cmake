# The host application: its readers and writers are unit-tested inside pipetask_tests (they
# link the host's static library); the executable is tested end to end by a Python driver.
if(TARGET pipetask_host_io)
  target_link_libraries(pipetask_tests PRIVATE pipetask_host_io)
endif()

# A stand-in plug-in that speaks the boundary without running scripts, so that the host's
# side of it (rows, events, log lines, send functions, compile failures) is tested on its own.
add_library(pt_echo_plugin MODULE ${CMAKE_CURRENT_LIST_DIR}/echo_plugin.c)
target_include_directories(pt_echo_plugin PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(pt_echo_plugin PRIVATE Threads::Threads ${CMAKE_DL_LIBS})

# End-to-end tests of the executable, one CTest test per case of the driver. Cases that need
# the plug-in to run scripts report themselves skipped (exit code 77) with the reason while
# it cannot.
# The system interpreter first: version-manager shims on PATH add seconds to every start.
find_program(PT_HOST_PYTHON python3 PATHS /usr/bin /usr/local/bin NO_DEFAULT_PATH)
if(NOT PT_HOST_PYTHON)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(PT_HOST_PYTHON ${Python3_EXECUTABLE})
endif()
set(PT_HOST_E2E ${CMAKE_CURRENT_LIST_DIR}/e2e.py)
execute_process(COMMAND ${PT_HOST_PYTHON} ${PT_HOST_E2E} --list
                OUTPUT_VARIABLE PT_HOST_E2E_CASES OUTPUT_STRIP_TRAILING_WHITESPACE)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PT_HOST_E2E})
string(REPLACE "\n" ";" PT_HOST_E2E_CASES "${PT_HOST_E2E_CASES}")
foreach(case ${PT_HOST_E2E_CASES})
  add_test(NAME host_e2e.${case}
           COMMAND ${PT_HOST_PYTHON} ${PT_HOST_E2E}
                   --pipetask $<TARGET_FILE:pipetask_host>
                   --echo-plugin $<TARGET_FILE:pt_echo_plugin>
                   --source-dir ${PROJECT_SOURCE_DIR}
                   ${case})
  set_tests_properties(host_e2e.${case} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 60)
endforeach()

# The fuzz target over the host's input formats lives with the others in tests/fuzz/ (which
# builds its standalone smoke driver); it needs the host's library on top of the core.
if(TARGET fuzz_host_formats_smoke)
  target_link_libraries(fuzz_host_formats_smoke PRIVATE pipetask_host_io)
endif()
if(TARGET fuzz_host_formats)
  # The libFuzzer build: the host's readers instrumented like the fuzzing copy of the core.
  get_target_property(pt_host_fuzz_sources pipetask_host_io SOURCES)
  add_library(pipetask_host_io_fuzz STATIC ${pt_host_fuzz_sources})
  target_include_directories(pipetask_host_io_fuzz PUBLIC ${PROJECT_SOURCE_DIR}/include
                             ${PROJECT_SOURCE_DIR}/host PRIVATE ${PROJECT_SOURCE_DIR}/src)
  target_compile_definitions(pipetask_host_io_fuzz PUBLIC
    PT_VERSION_TEXT="${PROJECT_VERSION}.${PT_BUILD_NUMBER}")
  target_compile_options(pipetask_host_io_fuzz PRIVATE -fsanitize=fuzzer-no-link
                         -fsanitize=address,undefined -fno-omit-frame-pointer)
  target_link_libraries(pipetask_host_io_fuzz PUBLIC simdjson::simdjson PkgConfig::SERIALPORT
                        Threads::Threads ${CMAKE_DL_LIBS})
  target_link_libraries(fuzz_host_formats PRIVATE pipetask_host_io_fuzz)
endif()
