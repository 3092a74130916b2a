# Configures a build that compiles for macOS (KESTRO_MACOS_ARCH: aarch64 or x86_64) with the
# pinned Zig's clang, Apple's libc headers and libc++, and Debian's library headers. It only
# compiles: there are no macOS builds of the libraries to link with.
if(NOT KESTRO_MACOS_ARCH MATCHES "^(aarch64|x86_64)$")
  message(FATAL_ERROR "KESTRO_MACOS_ARCH must be aarch64 or x86_64, not '${KESTRO_MACOS_ARCH}'.")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTRO_MACOS_ARCH)

set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR ${KESTRO_MACOS_ARCH})
set(CMAKE_CXX_COMPILER ${CMAKE_CURRENT_LIST_DIR}/zig-c++)
# 13 is the newest macOS whose headers this Zig ships.
set(CMAKE_CXX_COMPILER_TARGET ${KESTRO_MACOS_ARCH}-macos.13.0)
# The compiler probes must not link either.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Debian's packages are found where they are (this Zig runs on x86-64 Debian only); their headers
# come after Zig's own libc headers on the include path.
set(CMAKE_LIBRARY_ARCHITECTURE x86_64-linux-gnu)
set(CMAKE_PROJECT_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/QtHeadersOnly.cmake)
