# Packet processing through the real exports: the benchmark loads libpipetask.so with dlopen,
# as a host does, and drives ProcessData with 10-item rows.
find_package(Threads REQUIRED)
add_executable(pipetask_processing_bench ${CMAKE_CURRENT_LIST_DIR}/processing_bench.cpp)
target_include_directories(pipetask_processing_bench PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(pipetask_processing_bench PRIVATE benchmark::benchmark Threads::Threads
                      ${CMAKE_DL_LIBS})
target_compile_definitions(pipetask_processing_bench PRIVATE
                           PT_PLUGIN_PATH="$<TARGET_FILE:pipetask>")
add_dependencies(pipetask_processing_bench pipetask)
