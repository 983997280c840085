# Fails when a folder includes a layer above it or beside it: nothing below plugin/
# includes plugin/, contract/ includes no project folder but itself, every other folder
# only what the dependency line allows (image may use ui/CoolListItems.h, the plain row
# records), no include climbs out with "../", and the std-only layers include no Qt.
set(_rules
  "device|host|image|settings|ui|cli|contract=\"plugin/"
  "contract=\"(image|ui|device|settings|host|cli)/"
  "image=\"(device|settings|host|cli)/"
  "device=\"(ui|settings|host|cli)/"
  "settings=\"(image|device|ui|host|cli)/"
  "cli=\"(device|ui|settings|host)/"
  "host=\"(device|ui|settings|cli)/"
  "ui|plugin=\"(host|cli)/"
  "device|host|image|settings|ui|cli|contract|plugin=\"\\.\\./"
  "image|device|cli=#include <Q")
set(_failures "")
foreach(rule IN LISTS _rules)
  string(REPLACE "=" ";" _parts "${rule}")
  list(GET _parts 0 _folders)
  list(GET _parts 1 _pattern)
  string(REPLACE "|" ";" _folders "${_folders}")
  foreach(folder IN LISTS _folders)
    file(GLOB_RECURSE _files "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
    foreach(f IN LISTS _files)
      if(NOT _pattern MATCHES "^#")
        file(STRINGS "${f}" _hits REGEX "^[ \t]*#[ \t]*include[ \t]*${_pattern}")
      else()
        file(STRINGS "${f}" _hits REGEX "^[ \t]*${_pattern}")
      endif()
      foreach(h IN LISTS _hits)
        file(RELATIVE_PATH _rel "${ROOT}" "${f}")
        string(APPEND _failures "  ${_rel}: ${h}\n")
      endforeach()
    endforeach()
  endforeach()
endforeach()
if(_failures)
  message(FATAL_ERROR "Includes that point up or across the layers:\n${_failures}")
endif()
message(STATUS "Layer includes: all point down")
