# What `cmake --install` puts under the prefix, in the GNUInstallDirs layout and
# in three components that become the Debian packages:
#   runtime  libimgfilter.so.1 (and the file it points to)
#   dev      the header, the libimgfilter.so link, imgfilter.pc, the CMake package
#   tool     the imgfilter command and its manual page (cli/CMakeLists.txt)
include(CMakePackageConfigHelpers)

set(IMGFILTER_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/imgfilter)

# The library is linked from the objects of imgfilter_core, and stb and libm
# are private to it (its include directory for consumers comes from its own
# INSTALL_INTERFACE, src/CMakeLists.txt): a shared library's private dependencies stay out of its
# exported interface, so the export set holds imgfilter alone and consumers
# need neither the object library nor the stb headers.
install(TARGETS imgfilter EXPORT imgfilterTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/include/imgfilter.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)

install(EXPORT imgfilterTargets NAMESPACE imgfilter::
  DESTINATION ${IMGFILTER_CMAKE_DIR} COMPONENT dev)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/imgfilterConfig.cmake.in
  ${PROJECT_BINARY_DIR}/imgfilterConfig.cmake
  INSTALL_DESTINATION ${IMGFILTER_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/imgfilterConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/imgfilterConfig.cmake ${PROJECT_BINARY_DIR}/imgfilterConfigVersion.cmake
  DESTINATION ${IMGFILTER_CMAKE_DIR} COMPONENT dev)

# imgfilter.pc finds its prefix from its own location, so the same file is right
# under /usr/local or any prefix chosen only at install time (--prefix). Built
# for /usr, the system packages' prefix, it names the directories plainly.
# Only the link against libstb/libm for a static build is private; the shared
# library needs nothing of them from a consumer.
set(IMGFILTER_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr" OR IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(IMGFILTER_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH IMGFILTER_PC_UP /${IMGFILTER_PC_DIR} /)
  string(REGEX REPLACE "/$" "" IMGFILTER_PC_UP "${IMGFILTER_PC_UP}")
  set(IMGFILTER_PC_PREFIX "\${pcfiledir}/${IMGFILTER_PC_UP}")
endif()
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(IMGFILTER_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(IMGFILTER_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
if(IMGFILTER_SYSTEM_STB)
  set(IMGFILTER_PC_LIBS_PRIVATE "-lstb -lm")
else()
  set(IMGFILTER_PC_LIBS_PRIVATE "-lm")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/imgfilter.pc.in ${PROJECT_BINARY_DIR}/imgfilter.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/imgfilter.pc DESTINATION ${IMGFILTER_PC_DIR} COMPONENT dev)
