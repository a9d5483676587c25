# veltra.h as MATLAB's loadlibrary reads it: plain C99 with MATLAB_LOADLIBRARY
# defined, and no compiler attribute left after the preprocessor.
# Usage: cmake -DCC=<cc> -DHEADER=<veltra.h> -P check_header.cmake
foreach(defines "" "-DMATLAB_LOADLIBRARY")
  execute_process(COMMAND ${CC} -std=c99 -pedantic-errors -Wall -Wextra -Werror ${defines} -fsyntax-only -x c ${HEADER}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "veltra.h is not plain C99 (${defines}):\n${err}")
  endif()
endforeach()
execute_process(COMMAND ${CC} -std=c99 -DMATLAB_LOADLIBRARY -E -P -x c ${HEADER} OUTPUT_VARIABLE out COMMAND_ERROR_IS_FATAL ANY)
# From the first of its functions on: the system's <stdint.h> aside.
string(FIND "${out}" "veltra_version" at)
string(SUBSTRING "${out}" ${at} -1 own)
if(own MATCHES "__attribute__|__declspec")
  message(FATAL_ERROR "an attribute is left for MATLAB_LOADLIBRARY:\n${own}")
endif()
message(STATUS "veltra.h is C99, and attribute-free for MATLAB_LOADLIBRARY")
