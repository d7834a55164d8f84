# pt_embed_text(<out-var> <symbol> <file>): compiles a text file into the library as
# `extern const char <symbol>[];` (NUL-terminated). Used for the language grammars.
function(pt_embed_text out_var symbol file)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/embed_${symbol}.cpp)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIN=${file} -DOUT=${out} -DSYMBOL=${symbol}
            -P ${PROJECT_SOURCE_DIR}/cmake/embed_run.cmake
    DEPENDS ${file} ${PROJECT_SOURCE_DIR}/cmake/embed_run.cmake
    VERBATIM)
  set(${out_var} ${out} PARENT_SCOPE)
endfunction()
