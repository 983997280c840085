# nlohmann-json is header only. A cross build cannot use the host's CMake package (its
# include folder is the host's /usr/include, whose C headers must not reach the cross
# compiler), so it gets a folder that holds the json headers and nothing else.
if(CMAKE_CROSSCOMPILING)
  find_path(ORVELLA_JSON_INCLUDE nlohmann/json.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
  set(_json_dir ${CMAKE_BINARY_DIR}/json-include)
  file(MAKE_DIRECTORY ${_json_dir})
  if(NOT EXISTS ${_json_dir}/nlohmann)
    file(CREATE_LINK ${ORVELLA_JSON_INCLUDE}/nlohmann ${_json_dir}/nlohmann SYMBOLIC)
  endif()
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED GLOBAL)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${_json_dir})
else()
  find_package(nlohmann_json 3 REQUIRED)
endif()
