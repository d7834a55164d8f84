# The plug-in running scripts over packets, driven through its exports by a host in C (the
# ABI tests' host: window, send exports). Each case is one CTest test; all of them report
# themselves skipped (exit code 77) while the plug-in cannot run a trivial script.
set(PT_PROCESSING_DIR ${CMAKE_CURRENT_LIST_DIR})
find_package(Threads REQUIRED)
add_executable(pt_processing_tests ${PT_PROCESSING_DIR}/processing_host_test.c
                                   ${PROJECT_SOURCE_DIR}/tests/abi/test_host.c)
target_include_directories(pt_processing_tests PRIVATE ${PROJECT_SOURCE_DIR}/include
                           ${PROJECT_SOURCE_DIR}/tests/abi)
target_link_libraries(pt_processing_tests PRIVATE Threads::Threads ${CMAKE_DL_LIBS})
# The host exports fSendData, fSendString and fSendByte for the module to find with dlsym.
set_target_properties(pt_processing_tests PROPERTIES ENABLE_EXPORTS ON C_VISIBILITY_PRESET default)
add_dependencies(pt_processing_tests pipetask)

foreach(name rows empty_rows discard compile_error runtime_error language_index stored_values
             row_functions events_and_log sends bad_scripts two_threads)
  add_test(NAME processing.${name} COMMAND pt_processing_tests $<TARGET_FILE:pipetask> ${name})
  set_tests_properties(processing.${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
endforeach()
set_tests_properties(processing.two_threads PROPERTIES LABELS concurrency)
