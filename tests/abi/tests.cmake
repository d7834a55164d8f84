# ABI tests: hosts written in C that dlopen the built libpipetask.so and drive its exports.
set(PT_ABI_DIR ${CMAKE_CURRENT_LIST_DIR})
find_package(Threads REQUIRED)

add_executable(pt_abi_tests ${PT_ABI_DIR}/abi_test.c ${PT_ABI_DIR}/test_host.c)
add_executable(pt_abi_stress ${PT_ABI_DIR}/stress_test.c ${PT_ABI_DIR}/test_host.c)
foreach(t pt_abi_tests pt_abi_stress)
  target_include_directories(${t} PRIVATE ${PROJECT_SOURCE_DIR}/include ${PT_ABI_DIR})
  target_link_libraries(${t} PRIVATE Threads::Threads ${CMAKE_DL_LIBS})
  # The host exports fSendData, fSendString and fSendByte for the module to find with dlsym.
  set_target_properties(${t} PROPERTIES ENABLE_EXPORTS ON C_VISIBILITY_PRESET default)
  add_dependencies(${t} pipetask)
endforeach()

foreach(name identity record_check bad_lists instances buffer_protocol lists_both_ways commands
             packets log_delivery host_module)
  add_test(NAME abi.${name} COMMAND pt_abi_tests $<TARGET_FILE:pipetask> ${name})
endforeach()
add_test(NAME abi.stress COMMAND pt_abi_stress $<TARGET_FILE:pipetask>)
set_tests_properties(abi.stress PROPERTIES LABELS concurrency)
