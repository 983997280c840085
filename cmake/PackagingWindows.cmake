# The Windows zip: `cpack` in a cross build folder (scripts/build-windows.sh does it all)
# makes orvella-<version>-win64.zip holding orvella.exe, the README for Windows users,
# the licence and the notices of what the exe contains.

install(FILES
  ${CMAKE_CURRENT_SOURCE_DIR}/packaging/windows/README.txt
  ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE
  ${CMAKE_CURRENT_SOURCE_DIR}/THIRD-PARTY-NOTICES
  DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME orvella)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvella")
set(CPACK_PACKAGE_FILE_NAME orvella-${PROJECT_VERSION}-win64)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
