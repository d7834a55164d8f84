# Throughput of the host's readers and writers (no plug-in involved).
if(TARGET pipetask_host_io)
  add_executable(pipetask_host_bench ${CMAKE_CURRENT_LIST_DIR}/host_io_bench.cpp)
  target_link_libraries(pipetask_host_bench PRIVATE pipetask_host_io benchmark::benchmark
                        benchmark::benchmark_main)
endif()
