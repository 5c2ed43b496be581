# Results are fixed to the last bit in single precision, so the compiler must
# neither fuse a multiply with an add nor relax IEEE semantics anywhere.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wall -Wextra -Wpedantic -ffp-contract=off -fno-fast-math)
elseif(MSVC)
  add_compile_options(/W4 /fp:precise)
endif()
# The fast paths pass wide vectors only between always-inline functions, so
# the compilers' note about the calling convention of such vectors does not apply.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Wno-psabi)
endif()
# CI builds with every compiler we claim to support and lets no warning pass.
if(IMGFILTER_WERROR AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  add_compile_options(-Werror)
endif()

if(IMGFILTER_SANITIZE)
  # Every report is fatal, so a finding fails the test that provoked it.
  set(IMGFILTER_SANITIZER_FLAGS
    -fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_compile_options(${IMGFILTER_SANITIZER_FLAGS})
  add_link_options(${IMGFILTER_SANITIZER_FLAGS})
endif()
if(IMGFILTER_FUZZ)
  # Coverage feedback for libFuzzer everywhere; only the fuzz targets link its main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Warnings on, plus the flags that keep the library's surface to the twelve
# exported functions and keep C++ exceptions from existing at all inside it.
function(imgfilter_library_flags target)
  set_target_properties(${target} PROPERTIES
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON)
  target_compile_definitions(${target} PRIVATE IMGFILTER_BUILDING)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  endif()
endfunction()

# On Linux, a shared object that exports what its version script names and
# nothing else, not even the symbols of the static libraries linked into it,
# and that links only when every symbol it needs is found.
function(imgfilter_exports_only target version_script)
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
  endif()
  target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL -Wl,--version-script=${version_script})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${version_script})
  # Under Clang the sanitizer runtime comes from the executable that loads the
  # object, so its symbols are undefined here by design.
  if(NOT IMGFILTER_SANITIZE)
    target_link_options(${target} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
