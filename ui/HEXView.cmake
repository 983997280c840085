# Hex view control and the hex window.
add_library(orvella_hexview STATIC
  HexDataWindow.cpp HexDataWindow.h
)
target_include_directories(orvella_hexview PUBLIC ${ORVELLA_SOURCE_ROOT})
target_link_libraries(orvella_hexview PUBLIC orvella_image)
orvella_warnings(orvella_hexview)
