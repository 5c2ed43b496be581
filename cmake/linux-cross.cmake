# Cross build for Linux on another processor with Debian's cross compilers
# (crossbuild-essential-<arch>), given the GNU triplet, for example:
#   cmake -S . -B build/arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-cross.cmake \
#         -DIMGFILTER_CROSS=aarch64-linux-gnu
# Programs built here run under qemu-user (the emulator CTest uses for them).
if(NOT IMGFILTER_CROSS)
  message(FATAL_ERROR "Set IMGFILTER_CROSS to a GNU triplet such as aarch64-linux-gnu")
endif()
# CMake's trial compilations read this file again: hand the triplet on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES IMGFILTER_CROSS)
string(REGEX MATCH "^[^-]+" imgfilter_cross_cpu "${IMGFILTER_CROSS}")
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${imgfilter_cross_cpu})
set(CMAKE_C_COMPILER ${IMGFILTER_CROSS}-gcc)
set(CMAKE_CXX_COMPILER ${IMGFILTER_CROSS}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${IMGFILTER_CROSS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${imgfilter_cross_cpu} -L /usr/${IMGFILTER_CROSS})
