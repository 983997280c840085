# Hex view control and the hex window.
add_library(orvella_hexview STATIC
  HEXView.cpp HEXView.h HexCommands.cpp
  HexWindowUnit.cpp HexWindowUnit.h
)
set_target_properties(orvella_hexview PROPERTIES AUTOMOC ON)
target_include_directories(orvella_hexview PUBLIC ${ORVELLA_SOURCE_ROOT})
target_link_libraries(orvella_hexview PUBLIC Qt6::Widgets orvella_hexrules orvella_image orvella_rows orvella_outerframe orvella_widgetkit)
orvella_warnings(orvella_hexview)
