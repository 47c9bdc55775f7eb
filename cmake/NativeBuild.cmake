# The OS-free code on Linux: unit tests with sanitizers, fuzz targets and
# micro-benchmarks.
option(GLINT_FUZZ "Build the libFuzzer targets (needs clang)" ON)

add_subdirectory(tests/native)
if(GLINT_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_subdirectory(fuzz)
endif()
add_subdirectory(bench/native)
