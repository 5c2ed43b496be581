# stb_image comes from Debian's libstb-dev. By default it is compiled from the
# system header into the library, with hidden symbols and private state,
# through the library's own allocator (see docs/codec.md). IMGFILTER_SYSTEM_STB
# links the system libstb instead, for distributions that require shared
# copies: every guard that does not depend on the allocator applies there too.
# The encoders are the library's own.
find_package(PkgConfig REQUIRED)
pkg_check_modules(STB REQUIRED stb)

add_library(imgfilter_stb INTERFACE)
target_include_directories(imgfilter_stb SYSTEM INTERFACE ${STB_INCLUDE_DIRS})
if(IMGFILTER_SYSTEM_STB)
  target_link_directories(imgfilter_stb INTERFACE ${STB_LIBRARY_DIRS})
  target_link_libraries(imgfilter_stb INTERFACE ${STB_LIBRARIES})
endif()

# The tests, the benchmark and the fuzz targets write their input files with
# stb_image_write, and compare the library's encoders with it: the system's.
add_library(imgfilter_stb_writer INTERFACE)
target_include_directories(imgfilter_stb_writer SYSTEM INTERFACE ${STB_INCLUDE_DIRS})
target_link_directories(imgfilter_stb_writer INTERFACE ${STB_LIBRARY_DIRS})
target_link_libraries(imgfilter_stb_writer INTERFACE ${STB_LIBRARIES})
