# Script tests: every file under tests/scripts/pascal/ is a PascalScript program carrying its
# expectations in comments; one CTest case per file, all run by one driver.
add_executable(pt_script_test ${CMAKE_CURRENT_LIST_DIR}/script_driver.cpp)
target_link_libraries(pt_script_test PRIVATE -Wl,--whole-archive pipetask_core -Wl,--no-whole-archive)
target_include_directories(pt_script_test PRIVATE ${PROJECT_SOURCE_DIR}/src)
file(GLOB PT_PASCAL_SCRIPTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/pascal/*.pas)
foreach(script ${PT_PASCAL_SCRIPTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME script_pascal_${name} COMMAND pt_script_test ${script})
endforeach()
