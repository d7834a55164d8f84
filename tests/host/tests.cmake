# The host application: its readers and writers are unit-tested inside pipetask_tests (they
# link the host's static library); the executable is tested end to end by a Python driver.
if(TARGET pipetask_host_io)
  target_link_libraries(pipetask_tests PRIVATE pipetask_host_io)
endif()
