# Writes a Ninja file that compiles, as CMake would, the product's files that a macOS build
# chooses: every runtime source and the companion's own macOS sources (the rest of the companion
# is plain Qt, compiled on every system), except the files named in UNCHECKED.
# cmake -DSOURCE_DIR=… -DBUILD_DIR=… -DUNCHECKED="a.cpp;b.cpp" -DOUTPUT=… -P WriteCheckNinja.cmake
# Paths in UNCHECKED are relative to SOURCE_DIR, and each must still be one of the build's files.
cmake_minimum_required(VERSION 3.25)

file(READ "${BUILD_DIR}/compile_commands.json" commands)
string(JSON count LENGTH "${commands}")
set(unmatched ${UNCHECKED})
set(checked 0)
set(ninja "# Written by WriteCheckNinja.cmake from CMake's compile commands: one compile a file.\n")
string(APPEND ninja "builddir = macos-check\n")
string(APPEND ninja "rule compile\n  command = \$command\n  description = \$file\n")
math(EXPR last "${count} - 1")
foreach(index RANGE ${last})
  string(JSON file GET "${commands}" ${index} file)
  string(JSON directory GET "${commands}" ${index} directory)
  string(JSON command GET "${commands}" ${index} command)
  cmake_path(RELATIVE_PATH file BASE_DIRECTORY "${SOURCE_DIR}" OUTPUT_VARIABLE relative)
  if(NOT relative MATCHES "^(runtime/src/.*|companion/src/.*MacOS)\\.cpp$")
    continue() # Qt's generated sources, and the companion's shared Qt code
  endif()
  if(relative IN_LIST UNCHECKED)
    list(REMOVE_ITEM unmatched "${relative}")
    continue()
  endif()
  if(NOT directory STREQUAL BUILD_DIR OR command MATCHES "\n")
    message(FATAL_ERROR "Unexpected compile command for ${relative} in ${directory}.")
  endif()
  # Outputs that never exist: every file is compiled on every run (Zig's cache makes a repeat cheap).
  string(REPLACE "$" "$$" command "${command}")
  string(REPLACE "$" "$$" relative "${relative}")
  string(APPEND ninja "build macos-check/${checked}: compile\n  command = ${command}\n  file = ${relative}\n")
  math(EXPR checked "${checked} + 1")
endforeach()

if(unmatched)
  message(FATAL_ERROR "No longer compiled for macOS, so no longer to be named as unchecked: ${unmatched}")
endif()
if(checked EQUAL 0)
  message(FATAL_ERROR "No runtime or companion file among the compile commands of ${BUILD_DIR}.")
endif()
file(WRITE "${OUTPUT}" "${ninja}")
