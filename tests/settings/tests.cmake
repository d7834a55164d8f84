# Fuzz targets for the readers of the settings: INI text, registry key files, stored texts.
# With PT_FUZZ (clang) they are libFuzzer binaries with a short run in the suite; otherwise a
# small deterministic driver feeds them seeds and mutations as a smoke test.
file(GLOB PT_SETTINGS_FUZZ CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/fuzz/*_fuzz.cpp)
foreach(src ${PT_SETTINGS_FUZZ})
  get_filename_component(name ${src} NAME_WE)
  if(PT_FUZZ)
    add_executable(${name} ${src})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    add_test(NAME fuzz_${name} COMMAND ${name} -runs=20000 -seed=1)
  else()
    add_executable(${name} ${src} ${CMAKE_CURRENT_LIST_DIR}/fuzz/smoke_driver.cpp)
    add_test(NAME smoke_${name} COMMAND ${name})
  endif()
  target_link_libraries(${name} PRIVATE -Wl,--whole-archive pipetask_core -Wl,--no-whole-archive)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_LIST_DIR}/..)
endforeach()
