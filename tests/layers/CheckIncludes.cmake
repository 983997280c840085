# Fails when a folder includes a layer above it or beside it: nothing below plugin/
# includes plugin/, contract/, digest/ and nand/ include no project folder but themselves, every
# other folder only what the dependency line allows (image may use ui/CoolListItems.h,
# the plain row records), only the tool uses the evidence work and its digests, no
# include climbs out with "../", and the std-only layers include no Qt. The std-only
# layers reach the operating system through their platform files only (one per back end:
# *Posix.cpp, *Win32.cpp, WideText.cpp, the digest back ends).
set(_rules
  "nand|device|host|image|settings|ui|cli|contract|digest|evidence|phone|fat=\"plugin/"
  "fat=\"(nand|image|ui|device|settings|host|cli|contract|digest|evidence|phone)/"
  "phone=\"(ui|device|settings|host|cli|contract|digest|evidence)/"
  "nand=\"(image|ui|device|settings|host|cli|contract|digest|evidence)/"
  "contract=\"(image|ui|device|settings|host|cli)/"
  "image=\"(device|settings|host|cli)/"
  "device=\"(ui|settings|host|cli)/"
  "settings=\"(image|device|ui|host|cli)/"
  "cli=\"(device|ui|settings|host)/"
  "host=\"(device|ui|settings|cli)/"
  "ui|plugin=\"(host|cli)/"
  "digest=\"(image|ui|device|settings|host|cli|contract|evidence)/"
  "image|device|ui|settings|phone|fat=\"(digest|evidence)/"
  "nand|device|host|image|settings|ui|cli|contract|plugin|digest|evidence|phone|fat=\"\\.\\./"
  "image|device|cli|digest|evidence=\"contract/MemoLines"
  "nand|image|device|cli|digest|evidence|phone|fat=#include <Q")
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
foreach(folder nand image cli digest evidence phone fat)
  file(GLOB_RECURSE _files "${ROOT}/${folder}/*.h" "${ROOT}/${folder}/*.cpp")
  foreach(f IN LISTS _files)
    if(f MATCHES "(Posix|Win32|Bcrypt|OpenSsl)\\.cpp$" OR f MATCHES "/WideText\\.cpp$")
      continue()
    endif()
    file(STRINGS "${f}" _hits
         REGEX "^[ \t]*#[ \t]*include[ \t]*<(windows|bcrypt|shellapi|io|unistd|fcntl|spawn|sys/|openssl/)")
    foreach(h IN LISTS _hits)
      file(RELATIVE_PATH _rel "${ROOT}" "${f}")
      string(APPEND _failures "  ${_rel}: ${h} (outside a platform file)\n")
    endforeach()
  endforeach()
endforeach()
if(_failures)
  message(FATAL_ERROR "Includes that point up or across the layers:\n${_failures}")
endif()
message(STATUS "Layer includes: all point down")
