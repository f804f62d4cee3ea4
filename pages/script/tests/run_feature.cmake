# Runs one feature script with lunscript and compares what it prints with
# the expected text beside it (NAME.vbs -> NAME.out). Standard output comes
# first; when the script ends in an error, the error text follows.
#   cmake -DLUNSCRIPT=... -DSCRIPT=.../NAME.vbs -P run_feature.cmake
get_filename_component(dir ${SCRIPT} DIRECTORY)
get_filename_component(name ${SCRIPT} NAME_WE)
execute_process(COMMAND ${LUNSCRIPT} ${SCRIPT}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  string(APPEND out "${err}")
endif()
file(READ ${dir}/${name}.out expected)
if(NOT out STREQUAL expected)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${name}.actual "${out}")
  message(FATAL_ERROR "${name}: output differs from ${name}.out; got:\n${out}")
endif()
