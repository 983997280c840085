# The Debian package: `cpack` in a build folder (scripts/package.sh does it all) makes
# orvella_<version>-1_<arch>.deb from the install rules of the plug-in, host and tool.

install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/orvella)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvella)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvella developers")
set(CPACK_PACKAGE_CONTACT "Orvella developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tool for full NAND images of i9000-like phones")
set(CPACK_PACKAGE_DESCRIPTION "\
Orvella lists the partitions of a full NAND image from its PIT table, saves
partitions and whole images, finds blank partitions and, through a flashing-box
host, reads, flashes and erases partitions on the phone. The package holds the
plug-in library, orvella-host (a stand-in host with a virtual phone) and the
orvella command-line tool.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Orvella developers")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Dependencies come from the libraries the binaries link (dpkg-shlibdeps).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
find_program(ORVELLA_DPKG dpkg)
if(ORVELLA_DPKG)
  execute_process(COMMAND ${ORVELLA_DPKG} --print-architecture
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

include(CPack)
