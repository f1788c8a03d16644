# The include rule of the source tree, on a small tree of three folders: `lower` includes a header
# of `upper` above it, `upper` uses `lower` and generates ui_Window.h, `other` is used by nobody.
# Run as: cmake -DSOURCE_DIR=<project> -P check-layers.cmake
cmake_minimum_required(VERSION 3.25)
include(${SOURCE_DIR}/cmake/Layers.cmake)
set(tree ${CMAKE_CURRENT_LIST_DIR}/fixture)
set(all ${tree}/lower ${tree}/upper ${tree}/other)

function(expect label folder dependencies expected)
  quorvane_stray_includes(found ${tree}/${folder} "${dependencies}" "${all}")
  if(NOT "${found}" STREQUAL "${expected}")
    message(SEND_ERROR "${label}:\n  expected: ${expected}\n  found:    ${found}")
  endif()
endfunction()

expect("an include upward" lower "" [[lower/Low.cpp includes "Window.h" of upper]])
expect("includes of the layer named, and forms" upper "${tree}/lower" "")
expect("a layer used without being named" upper ""
       [[upper/Window.cpp includes "Low.h" of lower;upper/Window.h includes "Low.h" of lower]])
expect("a layer named and not used" upper "${tree}/lower;${tree}/other"
       [[upper names other but includes none of its headers]])
