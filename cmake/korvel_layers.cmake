# How the source folders become libraries. Every folder names its sources;
# the files of the other platform drop out by one rule on the file name.

# Keeps from ARGN the files this platform builds, into <out>. A file belongs
# to one platform when its name starts with "posix_" or "win32_", or ends in
# "_posix" or "_win32" before ".cpp" or before "_test.cpp". Only the name
# counts, never the folders above it.
function(korvel_platform_sources out)
  if(WIN32)
    set(other posix)
  else()
    set(other win32)
  endif()
  set(kept)
  foreach(file IN LISTS ARGN)
    get_filename_component(name "${file}" NAME)
    if(NOT name MATCHES "^${other}_|_${other}(_test)?\\.cpp$")
      list(APPEND kept "${file}")
    endif()
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

# korvel_layer(<target> SOURCES <files...> USES <lower layers...>)
# One static library for one layer folder. A layer links only the layers
# below it; scripts/check-layers holds the includes to the same rule.
function(korvel_layer target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;USES")
  korvel_platform_sources(sources ${arg_SOURCES})
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${target} PUBLIC ${arg_USES})
endfunction()
