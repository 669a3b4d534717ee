# Pictures drawn from the SVG icons at build time, by korvel-render-icon
# (packaging/render_icon.cpp) on the host's Qt SVG: the icon theme's bitmaps,
# the window's icons where the target's Qt has no SVG support (the Windows
# cross build), and the Windows program icon.

# The renderer as a command for add_custom_command, in <out>; empty when
# there is none. A native build makes it when the host's Qt has SVG support;
# a cross build cannot run what it builds and takes a native one from
# KORVEL_HOST_RENDER_ICON (scripts/test-windows builds it).
function(korvel_icon_renderer out)
  if(CMAKE_CROSSCOMPILING)
    set(KORVEL_HOST_RENDER_ICON "" CACHE FILEPATH
      "A native korvel-render-icon, which draws the icons of a cross build")
    if(KORVEL_HOST_RENDER_ICON AND EXISTS "${KORVEL_HOST_RENDER_ICON}")
      set(${out} "${KORVEL_HOST_RENDER_ICON}" PARENT_SCOPE)
    else()
      set(${out} "" PARENT_SCOPE)
    endif()
    return()
  endif()
  if(NOT TARGET korvel-render-icon)
    find_package(Qt6 QUIET COMPONENTS Gui Svg)
    if(NOT Qt6Svg_FOUND)
      set(${out} "" PARENT_SCOPE)
      return()
    endif()
    # Built when a rule needs it, or on its own for a cross build to use.
    add_executable(korvel-render-icon EXCLUDE_FROM_ALL
      ${PROJECT_SOURCE_DIR}/packaging/render_icon.cpp)
    target_link_libraries(korvel-render-icon PRIVATE Qt6::Gui Qt6::Svg)
  endif()
  set(${out} korvel-render-icon PARENT_SCOPE)
endfunction()

# korvel_render_icon(<svg> <sizes> <output>): a build rule that draws <svg>
# into <output>, a PNG at one size or an .ico with every size of the list.
function(korvel_render_icon svg sizes output)
  korvel_icon_renderer(renderer)
  if(NOT renderer)
    message(FATAL_ERROR
      "Drawing ${svg} needs korvel-render-icon, which needs the host's Qt SVG (Debian: "
      "apt-get install qt6-svg-dev, or run scripts/setup). A cross build takes a native one: "
      "-DKORVEL_HOST_RENDER_ICON=<native build>/korvel-render-icon (scripts/test-windows "
      "passes it).")
  endif()
  get_filename_component(folder "${output}" DIRECTORY)
  string(REPLACE ";" "," size_list "${sizes}")
  set(depends "${svg}")
  list(APPEND depends "${renderer}")
  add_custom_command(OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${folder}"
    COMMAND "${renderer}" "${svg}" "${size_list}" "${output}"
    DEPENDS ${depends}
    COMMENT "Drawing ${output}"
    VERBATIM)
endfunction()
