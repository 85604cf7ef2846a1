# Run as `cmake -P print_cmake.cmake`: prints the version and the full path of the CMake binary
# that runs it, whatever wrapper or version-manager shim started that binary.
message("${CMAKE_VERSION};${CMAKE_COMMAND}")
