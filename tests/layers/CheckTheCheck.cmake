# The layer check against a small tree of its own: every folder of the floor table, each
# rule broken once by one line, and a tree without a fault that passes. Each broken rule
# must be named in the check's failure.
set(_tree "${WORK}/tree")
file(REMOVE_RECURSE "${_tree}")
file(COPY "${ROOT}/cmake/Floors.cmake" DESTINATION "${_tree}/cmake")
include("${ROOT}/cmake/Floors.cmake")
foreach(entry IN LISTS ORVELLA_FLOORS)
  string(REGEX MATCH "^[a-z]+" _folder "${entry}")
  file(WRITE "${_tree}/${_folder}/Own.h" "#include \"${_folder}/Other.h\"\n#include <vector>\n")
endforeach()

# What a sound tree may do: down the floors, Qt in Qt folders, platform headers in
# platform files, the tool with the evidence.
file(WRITE "${_tree}/image/Down.cpp" "#include \"nand/Hamming.h\"\n#include \"rows/CoolListItems.h\"\n")
file(WRITE "${_tree}/ui/Window.cpp" "#include <QWidget>\n#include \"device/DeviceWindow.h\"\n#include \"settings/SettsMng.h\"\n")
file(WRITE "${_tree}/files/FilePosix.cpp" "#include <unistd.h>\n")
file(WRITE "${_tree}/cli/Report.cpp" "#include \"evidence/Report.h\"\n#include \"digest/Digest.h\"\n")
file(WRITE "${_tree}/plugin/Frame.cpp" "#include \"ui/MainUnit.h\"\n#include \"host/ControlReport.h\"\n")
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${_tree} -P ${ROOT}/tests/layers/CheckIncludes.cmake
                RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "a sound tree fails the check:\n${_out}")
endif()

# FILE|LINE|WHAT THE CHECK MUST SAY
set(_faults
  "image/Up.h|#include \"ui/HEXView.h\"|(floor 2 includes floor 4)"
  "nand/Side.h|#include \"rows/CoolListItems.h\"|(sideways on floor 1)"
  "cli/Side.cpp|#include \"host/VirtualPhone.h\"|(sideways on floor 4)"
  "image/Digest.cpp|#include \"digest/Digest.h\"|(digest/ is for evidence,cli,host only)"
  "device/Out.cpp|#include \"../files/FileIO.h\"|(climbs out of its folder)"
  "device/Qt.cpp|#include <QString>|(Qt in a std folder)"
  "evidence/Memo.cpp|#include \"qtcontract/MemoLines.h\"|(a std folder includes a Qt folder)"
  "contract/Folder.cpp|#include <unistd.h>|(outside a platform file)"
  "fat/Win.cpp|#include <windows.h>|(outside a platform file)"
)
foreach(fault IN LISTS _faults)
  string(REPLACE "|" ";" fault "${fault}")
  list(GET fault 0 _file)
  list(GET fault 1 _line)
  file(APPEND "${_tree}/${_file}" "${_line}\n")
endforeach()
file(WRITE "${_tree}/stray/Stray.h" "#pragma once\n")
file(REMOVE_RECURSE "${_tree}/phone")
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${_tree} -P ${ROOT}/tests/layers/CheckIncludes.cmake
                RESULT_VARIABLE _rc OUTPUT_VARIABLE _out ERROR_VARIABLE _out)
if(_rc EQUAL 0)
  message(FATAL_ERROR "a tree with faults passes the check:\n${_out}")
endif()
set(_missed "")
list(APPEND _faults "phone/|-|in the floor table but missing"
                    "stray/|-|has no floor in cmake/Floors.cmake")
foreach(fault IN LISTS _faults)
  string(REPLACE "|" ";" fault "${fault}")
  list(GET fault 0 _file)
  list(GET fault 2 _what)
  string(FIND "${_out}" "${_file}" _at_file)
  string(FIND "${_out}" "${_what}" _at_what)
  if(_at_file EQUAL -1 OR _at_what EQUAL -1)
    string(APPEND _missed "  ${_file}: ${_what}\n")
  endif()
endforeach()
if(_missed)
  message(FATAL_ERROR "the check did not name:\n${_missed}in its output:\n${_out}")
endif()
message(STATUS "The layer check names every broken rule")
