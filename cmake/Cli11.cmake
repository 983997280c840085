# CLI11, the command-line parser of the tool, is header only. As for the json headers, a
# cross build gets a folder that holds CLI11's headers and nothing else of /usr/include.
if(CMAKE_CROSSCOMPILING)
  find_path(ORVELLA_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(_cli11_dir ${CMAKE_BINARY_DIR}/cli11-include)
  file(MAKE_DIRECTORY ${_cli11_dir})
  if(NOT EXISTS ${_cli11_dir}/CLI)
    file(CREATE_LINK ${ORVELLA_CLI11_INCLUDE}/CLI ${_cli11_dir}/CLI SYMBOLIC)
  endif()
  add_library(CLI11::CLI11 INTERFACE IMPORTED GLOBAL)
  target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${_cli11_dir})
else()
  find_package(CLI11 2 REQUIRED)
endif()
