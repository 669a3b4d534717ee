# What the window needs beside it on Windows: the Qt DLLs, the Qt plug-ins
# that draw it (platforms, styles, image formats) and the MinGW runtime the
# Qt DLLs link against (our own programs link theirs in statically). The
# build tree gets a copy at its top, beside korvel.exe and korvel-cli.exe, so
# they run from there as they do installed; the install rules lay out the
# same files for the installer.

# The files as pairs "<source>|<folder under the program's folder>", in <out>.
function(korvel_windows_runtime_files out)
  get_filename_component(qt_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
  set(files)
  foreach(module Core Gui Widgets Network)
    list(APPEND files "${qt_prefix}/bin/Qt6${module}.dll|.")
  endforeach()
  foreach(plugin platforms/qwindows styles/qwindowsvistastyle imageformats/qico
                 imageformats/qgif imageformats/qjpeg)
    get_filename_component(folder ${plugin} DIRECTORY)
    list(APPEND files "${qt_prefix}/plugins/${plugin}.dll|${folder}")
  endforeach()
  foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
      OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
      message(FATAL_ERROR "The MinGW runtime ${dll} was not found by ${CMAKE_CXX_COMPILER}.")
    endif()
    list(APPEND files "${path}|.")
  endforeach()
  foreach(pair ${files})
    string(REPLACE "|" ";" parts "${pair}")
    list(GET parts 0 source)
    if(NOT EXISTS "${source}")
      message(FATAL_ERROR "${source} is missing: the Qt in ${qt_prefix} is not complete.")
    endif()
  endforeach()
  set(${out} ${files} PARENT_SCOPE)
endfunction()

# korvel_windows_runtime_copy(<target> <pairs...>): copies the files, given
# as korvel_windows_runtime_files gives them, to the top of the build tree,
# when <target> (built with everything) is built.
function(korvel_windows_runtime_copy target)
  set(copies)
  foreach(pair ${ARGN})
    string(REPLACE "|" ";" parts "${pair}")
    list(GET parts 0 source)
    list(GET parts 1 folder)
    get_filename_component(name "${source}" NAME)
    set(copy "${PROJECT_BINARY_DIR}/${folder}/${name}")
    add_custom_command(OUTPUT "${copy}"
      COMMAND ${CMAKE_COMMAND} -E copy_if_different "${source}" "${copy}"
      DEPENDS "${source}"
      VERBATIM)
    list(APPEND copies "${copy}")
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${copies})
endfunction()

# The window's runtime: the copy at the top of the build tree (target
# korvel_windows_runtime) and the install rules, beside the programs in bin/.
function(korvel_windows_runtime)
  korvel_windows_runtime_files(files)
  korvel_windows_runtime_copy(korvel_windows_runtime ${files})
  foreach(pair ${files})
    string(REPLACE "|" ";" parts "${pair}")
    list(GET parts 0 source)
    list(GET parts 1 folder)
    install(FILES "${source}" DESTINATION "bin/${folder}")
  endforeach()
endfunction()

# How a program of the build tree started from another folder under Wine
# finds that copy: environment entries for set_tests_properties. Only the
# DLLs: Wine does not hand QT_* variables to Windows programs, so a program
# elsewhere is told where the plug-ins are by its starter.
function(korvel_windows_runtime_environment out)
  # Wine sees the host's root as drive Z:.
  set(${out} "WINEPATH=Z:${PROJECT_BINARY_DIR}" PARENT_SCOPE)
endfunction()
