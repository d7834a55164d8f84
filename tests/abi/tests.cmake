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

# The 32-bit layouts, checked by compiling the header for i386 with clang (syntax only, so
# no 32-bit libraries are needed; an empty gnu/stubs-32.h stands in for the missing
# multilib header).
find_program(PT_CLANG NAMES clang clang-14)
set(PT_MULTIARCH_INCLUDE /usr/include/x86_64-linux-gnu)
if(PT_CLANG AND EXISTS ${PT_MULTIARCH_INCLUDE})
  set(PT_I386_STUBS ${CMAKE_CURRENT_BINARY_DIR}/abi-i386)
  file(WRITE ${PT_I386_STUBS}/gnu/stubs-32.h "/* empty: the i386 layout check only parses headers */\n")
  set(PT_I386_FLAGS -target i386-linux-gnu -fsyntax-only -Wall -Wextra -Werror
      -I${PROJECT_SOURCE_DIR}/include -idirafter ${PT_I386_STUBS} -idirafter ${PT_MULTIARCH_INCLUDE})
  add_test(NAME abi.layout_i386_c COMMAND ${PT_CLANG} ${PT_I386_FLAGS} -std=c99 -pedantic
           ${PT_ABI_DIR}/layout_check.c)
  add_test(NAME abi.layout_i386_cxx COMMAND ${PT_CLANG} ${PT_I386_FLAGS} -x c++ -std=c++20
           ${PT_ABI_DIR}/layout_check.c)
endif()
