# nlohmann/json's headers from PyPI's `nlohmann-json` package, for a machine with no
# installed package (no CMake config): the package has only headers and `get_include()`,
# asked of the interpreter that builds the wheel (pip's isolated build environment is on
# its path). Defines the same imported target the installed package would.
find_package(Python 3.11 COMPONENTS Interpreter)
set(pypi_json_include "")
if(Python_Interpreter_FOUND)
  execute_process(
    COMMAND "${Python_EXECUTABLE}" -c "import nlohmann_json; print(nlohmann_json.get_include())"
    OUTPUT_VARIABLE pypi_json_include OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE pypi_json_status ERROR_QUIET)
  if(NOT pypi_json_status EQUAL 0)
    set(pypi_json_include "")
  endif()
endif()
if(NOT pypi_json_include OR NOT EXISTS "${pypi_json_include}/nlohmann/json.hpp")
  message(FATAL_ERROR "nlohmann_json 3.11 or newer not found: install it (Debian: "
    "nlohmann-json3-dev), or PyPI's nlohmann-json for ${Python_EXECUTABLE} "
    "(a pip build installs it by itself unless build isolation is off)")
endif()

file(STRINGS "${pypi_json_include}/nlohmann/detail/abi_macros.hpp" pypi_json_version_lines
  REGEX "^#define NLOHMANN_JSON_VERSION_(MAJOR|MINOR|PATCH) [0-9]+")
set(pypi_json_version "")
foreach(part MAJOR MINOR PATCH)
  string(REGEX MATCH "NLOHMANN_JSON_VERSION_${part} ([0-9]+)" _ "${pypi_json_version_lines}")
  list(APPEND pypi_json_version "${CMAKE_MATCH_1}")
endforeach()
list(JOIN pypi_json_version "." pypi_json_version)
if(NOT pypi_json_version MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$" OR pypi_json_version VERSION_LESS 3.11)
  message(FATAL_ERROR "nlohmann_json from PyPI in ${pypi_json_include} is version "
    "'${pypi_json_version}'; 3.11 or newer is needed")
endif()

# Copied into the build tree, rewriting only what differs: pip's build environment is a new
# temporary directory each time, and a kept build tree then recompiles nothing for it.
set(pypi_json_copy "${CMAKE_BINARY_DIR}/pypi-nlohmann-json/include")
file(GLOB_RECURSE pypi_json_headers RELATIVE "${pypi_json_include}" "${pypi_json_include}/nlohmann/*")
foreach(header IN LISTS pypi_json_headers)
  cmake_path(GET header PARENT_PATH header_dir)
  file(MAKE_DIRECTORY "${pypi_json_copy}/${header_dir}")
  file(COPY_FILE "${pypi_json_include}/${header}" "${pypi_json_copy}/${header}" ONLY_IF_DIFFERENT)
endforeach()

add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
target_include_directories(nlohmann_json::nlohmann_json INTERFACE "${pypi_json_copy}")
message(STATUS "nlohmann_json ${pypi_json_version}: headers from PyPI's nlohmann-json (${pypi_json_include})")
