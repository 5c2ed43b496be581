# Debian packages from the install components, in Debian's split:
#   libimgfilter1     runtime: libimgfilter.so.1 (stb compiled in; libstb0 only with IMGFILTER_SYSTEM_STB)
#   libimgfilter-dev  dev: header, libimgfilter.so, imgfilter.pc, CMake package
#   imgfilter         tool: the command and its manual page
# Build them from a tree configured with -DCMAKE_INSTALL_PREFIX=/usr (so the
# library lands in Debian's multiarch directory): scripts/check-debs does this.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME imgfilter)
set(CPACK_PACKAGE_VENDOR "imgfilter developers")
set(CPACK_PACKAGE_CONTACT "imgfilter developers <imgfilter@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# Each package's synopsis is the first line of its own description below.
# CPack would put the one project summary in front of every description, except
# when the summary is its built-in placeholder, which it then leaves out.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tool)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libimgfilter1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# dpkg-shlibdeps derives libc6 (and libstb0 with IMGFILTER_SYSTEM_STB) with their minimum versions from
# what the library really links; a shlibs file and the ldconfig trigger come
# with the generated package.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
  "image filters behind a plain C interface - shared library
imgfilter applies one of nine image filters to a JPEG, PNG or BMP file and
writes the result as JPEG, PNG or BMP: vignette, Gaussian blur, sharpen,
custom 3x3/5x5 kernel, emboss, Sobel edges, bilateral denoise, pixelate and
oil paint. Results are exact to the last bit on every machine.

This package contains the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libimgfilter-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libimgfilter1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEV_DESCRIPTION
  "image filters behind a plain C interface - development files
imgfilter applies one of nine image filters to a JPEG, PNG or BMP file and
writes the result as JPEG, PNG or BMP.

This package contains the C header, the link to the shared library, the
pkg-config file and the CMake package (find_package(imgfilter) giving the
target imgfilter::imgfilter).")

set(CPACK_DEBIAN_TOOL_PACKAGE_NAME imgfilter)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_TOOL_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps learns nothing about our own library from the system; point it
# at the built copy, and state that dependency exactly, by hand.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/src)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "libimgfilter1 (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_TOOL_DESCRIPTION
  "image filters behind a plain C interface - command-line tool
imgfilter applies one of nine image filters to a JPEG, PNG or BMP file and
writes the result as JPEG, PNG or BMP.

This package contains the imgfilter command, which filters one file or a
whole batch of them (in parallel worker processes, with a progress bar).")

include(CPack)
