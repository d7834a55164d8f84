# Fuzz targets: every tests/fuzz/fuzz_<name>.cpp defines LLVMFuzzerTestOneInput for one reader
# of outside input, with seeds in tests/fuzz/corpus/<name>/.
#
# Always: fuzz_<name>_smoke, the target with the standalone driver (driver_main.cpp), and a
# ctest entry that runs the seeds plus a few seconds of mutated inputs.
# With clang and PT_FUZZ=ON: fuzz_<name>, a libFuzzer binary over an instrumented copy of the
# core (pipetask_core_fuzz), all built by the target `fuzzers` (see `make fuzz`).
set(PT_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
file(GLOB PT_FUZZ_SOURCES CONFIGURE_DEPENDS ${PT_FUZZ_DIR}/fuzz_*.cpp)
set(PT_FUZZ_SMOKE_SECONDS 3 CACHE STRING "Time budget of each fuzz smoke test")

foreach(src ${PT_FUZZ_SOURCES})
  get_filename_component(name ${src} NAME_WE)
  string(REGEX REPLACE "^fuzz_" "" target ${name})
  add_executable(${name}_smoke ${src} ${PT_FUZZ_DIR}/driver_main.cpp)
  target_link_libraries(${name}_smoke PRIVATE -Wl,--whole-archive pipetask_core -Wl,--no-whole-archive)
  target_include_directories(${name}_smoke PRIVATE ${PT_FUZZ_DIR} ${PROJECT_SOURCE_DIR}/src)
  add_test(NAME ${name}_smoke
           COMMAND ${name}_smoke --runs 200000 --seconds ${PT_FUZZ_SMOKE_SECONDS} --seed 1
                   ${PT_FUZZ_DIR}/corpus/${target})
  set_tests_properties(${name}_smoke PROPERTIES LABELS fuzz TIMEOUT 120)
endforeach()

if(PT_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(WARNING "PT_FUZZ needs clang: only the standalone fuzz drivers are built")
  else()
    # The core again, instrumented for coverage and checked by the sanitizers. Generated
    # sources (the embedded grammars) are generated once more for this library.
    set(fuzz_flags -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
    get_target_property(core_sources pipetask_core SOURCES)
    list(FILTER core_sources EXCLUDE REGEX "^${PROJECT_BINARY_DIR}/")
    file(GLOB fuzz_grammars CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/script/front/grammars/*.xml)
    foreach(g ${fuzz_grammars})
      get_filename_component(gname ${g} NAME_WE)
      pt_embed_text(gen grammar_${gname} ${g})
      list(APPEND core_sources ${gen})
    endforeach()
    add_library(pipetask_core_fuzz STATIC ${core_sources})
    target_include_directories(pipetask_core_fuzz PUBLIC ${PROJECT_SOURCE_DIR}/include
                               ${PROJECT_SOURCE_DIR}/src)
    foreach(prop COMPILE_DEFINITIONS INTERFACE_COMPILE_DEFINITIONS)
      get_target_property(defs pipetask_core ${prop})
      if(defs)
        target_compile_definitions(pipetask_core_fuzz PUBLIC ${defs})
      endif()
    endforeach()
    target_compile_options(pipetask_core_fuzz PRIVATE -fsanitize=fuzzer-no-link ${fuzz_flags})
    target_link_libraries(pipetask_core_fuzz PUBLIC Threads::Threads ${CMAKE_DL_LIBS})

    add_custom_target(fuzzers)
    foreach(src ${PT_FUZZ_SOURCES})
      get_filename_component(name ${src} NAME_WE)
      add_executable(${name} ${src})
      target_include_directories(${name} PRIVATE ${PT_FUZZ_DIR})
      target_compile_options(${name} PRIVATE -fsanitize=fuzzer ${fuzz_flags})
      target_link_options(${name} PRIVATE -fsanitize=fuzzer ${fuzz_flags})
      target_link_libraries(${name} PRIVATE -Wl,--whole-archive pipetask_core_fuzz
                            -Wl,--no-whole-archive)
      add_dependencies(fuzzers ${name})
    endforeach()
  endif()
endif()
