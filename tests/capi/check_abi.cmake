# The C library's ABI against the stored baseline (abigail-tools), and a
# proof that the check sees a changed struct field.
#   cmake -DMODE=check -DLIB=<libveltra.so> -DHEADER_DIR=<src/capi> -DBASELINE=<veltra.abi> -P check_abi.cmake
#   cmake -DMODE=proof -DHEADER_DIR=<src/capi> -DWORK=<dir> -DCC=<cc> -P check_abi.cmake
#   cmake -DMODE=update -DLIB=... -DHEADER_DIR=... -DBASELINE=... -P check_abi.cmake
find_program(ABIDW abidw REQUIRED)
find_program(ABIDIFF abidiff REQUIRED)

# The functions and types of veltra.h only (what the static libraries under
# it hold is no part of the ABI); locations left out, so the file does not
# depend on where the tree is.
function(abi_dump lib headers out)
  set(supp ${out}.suppr)
  file(WRITE ${supp} "[suppress_type]\n  source_location_not_in = ${headers}/veltra.h, veltra.h\n  drop = yes\n"
                     "[suppress_function]\n  name_not_regexp = ^veltra_\n  drop = yes\n")
  execute_process(COMMAND ${ABIDW} --suppressions ${supp} --no-corpus-path --no-show-locs --drop-undefined-syms
                          --out-file ${out} ${lib} RESULT_VARIABLE rc)
  file(REMOVE ${supp})
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "abidw failed on ${lib}")
  endif()
endfunction()

# abidiff's exit status; functions added are no change. Both sides are
# dumps of veltra.h's types only (their locations left out).
function(abi_diff old new result report)
  execute_process(COMMAND ${ABIDIFF} --no-added-syms ${old} ${new}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(${result} ${rc} PARENT_SCOPE)
  set(${report} "${out}${err}" PARENT_SCOPE)
endfunction()

# A library with every function of `header` (bodies that do nothing).
function(stub_library header_dir out)
  file(STRINGS ${header_dir}/veltra.h decls REGEX "^VELTRA_API ")
  set(body "#include \"veltra.h\"\n")
  foreach(d IN LISTS decls)
    string(REGEX REPLACE ";$" " { return 0; }" d "${d}")
    string(APPEND body "${d}\n")
  endforeach()
  file(WRITE ${header_dir}/stub.c "${body}")
  execute_process(COMMAND ${CC} -std=c99 -g -O0 -fPIC -shared -fvisibility=hidden -w -o ${out} ${header_dir}/stub.c
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "the stub of ${header_dir}/veltra.h does not compile")
  endif()
endfunction()

if(MODE STREQUAL "update")
  abi_dump(${LIB} ${HEADER_DIR} ${BASELINE})
  # The build folder's path is no part of the ABI.
  file(READ ${BASELINE} xml)
  string(REGEX REPLACE " comp-dir-path='[^']*'" "" xml "${xml}")
  file(WRITE ${BASELINE} "${xml}")
  message(STATUS "wrote ${BASELINE}")
elseif(MODE STREQUAL "check")
  string(RANDOM LENGTH 8 tag)
  set(now ${CMAKE_CURRENT_BINARY_DIR}/veltra-${tag}.abi)
  abi_dump(${LIB} ${HEADER_DIR} ${now})
  abi_diff(${BASELINE} ${now} rc report)
  file(REMOVE ${now})
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "libveltra's ABI differs from the baseline (abidiff ${rc}):\n${report}\n"
                        "A published function or field may not change; a new function is no change. "
                        "After a deliberate break (a new soname): cmake --build <dir> --target abi-baseline")
  endif()
  message(STATUS "libveltra's ABI is the baseline's")
elseif(MODE STREQUAL "proof")
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK}/same ${WORK}/field ${WORK}/added)
  file(READ ${HEADER_DIR}/veltra.h header)
  file(WRITE ${WORK}/same/veltra.h "${header}")
  # A field of the status struct changed: the cycle time widened to 64 bits.
  string(REPLACE "    int32_t cycle;" "    int64_t cycle;" changed "${header}")
  if(changed STREQUAL header)
    message(FATAL_ERROR "the status struct's cycle field is not where the proof expects it")
  endif()
  file(WRITE ${WORK}/field/veltra.h "${changed}")
  # A function added.
  string(REPLACE "#ifdef __cplusplus\n}" "VELTRA_API int veltra_added_later(int32_t x);\n#ifdef __cplusplus\n}" added "${header}")
  file(WRITE ${WORK}/added/veltra.h "${added}")
  foreach(v same field added)
    stub_library(${WORK}/${v} ${WORK}/${v}/libveltra.so)
    abi_dump(${WORK}/${v}/libveltra.so ${WORK}/${v} ${WORK}/${v}.abi)
  endforeach()
  abi_diff(${WORK}/same.abi ${WORK}/field.abi rc report)
  if(rc EQUAL 0 OR NOT report MATCHES "cycle")
    message(FATAL_ERROR "a changed field of veltra_status went unnoticed (abidiff ${rc}):\n${report}")
  endif()
  abi_diff(${WORK}/same.abi ${WORK}/added.abi rc report)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "a function added counted as a change (abidiff ${rc}):\n${report}")
  endif()
  message(STATUS "a changed field fails the check, an added function does not")
else()
  message(FATAL_ERROR "MODE is check, proof or update")
endif()
