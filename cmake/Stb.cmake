# stb_image and stb_image_write come from the system (Debian's libstb-dev).
# Either link the system libstb, or, with IMGFILTER_STB_FROM_HEADERS, compile the
# two implementations from the system headers into the library with hidden
# symbols (what sanitizer, fuzzing and cross builds want: the decoder is then
# instrumented and nothing of it leaks into our export table).
find_package(PkgConfig REQUIRED)
pkg_check_modules(STB REQUIRED stb)

add_library(imgfilter_stb INTERFACE)
target_include_directories(imgfilter_stb SYSTEM INTERFACE ${STB_INCLUDE_DIRS})
if(NOT IMGFILTER_STB_FROM_HEADERS)
  target_link_directories(imgfilter_stb INTERFACE ${STB_LIBRARY_DIRS})
  target_link_libraries(imgfilter_stb INTERFACE ${STB_LIBRARIES})
endif()
