# stb_image and stb_image_write come from Debian's libstb-dev. By default their
# implementations are compiled from the system headers into the library, with
# hidden symbols and private state, through the library's own allocator (see
# docs/codec.md). IMGFILTER_SYSTEM_STB links the system libstb instead, for
# distributions that require shared copies: every guard and encoder bound that
# does not depend on the allocator applies there too.
find_package(PkgConfig REQUIRED)
pkg_check_modules(STB REQUIRED stb)

add_library(imgfilter_stb INTERFACE)
target_include_directories(imgfilter_stb SYSTEM INTERFACE ${STB_INCLUDE_DIRS})
if(IMGFILTER_SYSTEM_STB)
  target_link_directories(imgfilter_stb INTERFACE ${STB_LIBRARY_DIRS})
  target_link_libraries(imgfilter_stb INTERFACE ${STB_LIBRARIES})
endif()
