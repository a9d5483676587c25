# What the Windows programs load at run time, beside them in the build's bin/
# (so they run there, under Wine or on Windows) and in the installed bin/:
# the Qt DLLs, the platform plugin and style Qt loads from the program's
# folder, and MinGW-w64's C++ runtime.
set(qt_modules Core Gui Widgets SerialPort Network)
set(qt_dlls)
foreach(m IN LISTS qt_modules)
  if(TARGET Qt6::${m})
    list(APPEND qt_dlls $<TARGET_FILE:Qt6::${m}>)
  endif()
endforeach()
get_filename_component(qt_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
set(qt_plugins platforms/qwindows.dll styles/qwindowsvistastyle.dll)

set(mingw_dlls)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${dll}")
  endif()
  file(REAL_PATH "${path}" path)
  list(APPEND mingw_dlls ${path})
endforeach()

set(bin ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
set(commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${qt_dlls} ${mingw_dlls} ${bin})
if(TARGET Qt6::Test)
  list(APPEND commands COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::Test> ${bin})
endif()
foreach(p IN LISTS qt_plugins)
  get_filename_component(dir ${p} DIRECTORY)
  list(APPEND commands COMMAND ${CMAKE_COMMAND} -E make_directory ${bin}/${dir}
                       COMMAND ${CMAKE_COMMAND} -E copy_if_different ${qt_prefix}/plugins/${p} ${bin}/${dir})
endforeach()
add_custom_target(windows_runtime ALL ${commands} COMMENT "Qt and MinGW-w64 DLLs beside the programs" VERBATIM)

include(GNUInstallDirs)
install(FILES ${qt_dlls} ${mingw_dlls} DESTINATION ${CMAKE_INSTALL_BINDIR})
foreach(p IN LISTS qt_plugins)
  get_filename_component(dir ${p} DIRECTORY)
  install(FILES ${qt_prefix}/plugins/${p} DESTINATION ${CMAKE_INSTALL_BINDIR}/${dir})
endforeach()
unset(bin)
unset(commands)
