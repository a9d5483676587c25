# What the Windows programs load at run time, beside them in the build's bin/
# (so they run there, under Wine or on Windows) and in the installed bin/:
# the Qt DLLs, the platform plugin and style Qt loads from the program's
# folder, and MinGW-w64's C++ runtime. The copies are stripped (Debian's
# MinGW-w64 runtime DLLs carry their debugging symbols: 24 MB for libstdc++).
set(qt_modules Core Gui Widgets SerialPort Network)
get_filename_component(qt_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
set(shipped)  # source;destination folder under bin/
foreach(m IN LISTS qt_modules)
  if(TARGET Qt6::${m})
    get_target_property(dll Qt6::${m} IMPORTED_LOCATION_RELEASE)
    list(APPEND shipped "${dll}|.")
  endif()
endforeach()
foreach(p platforms/qwindows.dll styles/qwindowsvistastyle.dll)
  get_filename_component(dir ${p} DIRECTORY)
  list(APPEND shipped "${qt_prefix}/plugins/${p}|${dir}")
endforeach()
set(mingw_runtime)
if(MINGW)
  set(mingw_runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
endif()
foreach(dll IN LISTS mingw_runtime)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${dll}")
  endif()
  file(REAL_PATH "${path}" path)
  list(APPEND shipped "${path}|.")
endforeach()
# Test programs only, not installed.
set(test_only)
if(TARGET Qt6::Test)
  get_target_property(dll Qt6::Test IMPORTED_LOCATION_RELEASE)
  set(test_only "${dll}|.")
endif()

include(GNUInstallDirs)
set(bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
set(copies)
foreach(entry IN LISTS shipped test_only)
  set(installed TRUE)
  if(entry IN_LIST test_only)
    set(installed FALSE)
  endif()
  string(REPLACE "|" ";" entry "${entry}")
  list(GET entry 0 source)
  list(GET entry 1 dir)
  get_filename_component(name ${source} NAME)
  set(copy ${bin}/${dir}/${name})
  add_custom_command(OUTPUT ${copy}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${bin}/${dir}
    COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${copy} ${source}
    DEPENDS ${source}
    VERBATIM)
  list(APPEND copies ${copy})
  if(installed)
    install(FILES ${copy} DESTINATION ${CMAKE_INSTALL_BINDIR}/${dir})
  endif()
endforeach()
add_custom_target(windows_runtime ALL DEPENDS ${copies} COMMENT "Qt and MinGW-w64 DLLs beside the programs")
unset(bin)
unset(copies)
