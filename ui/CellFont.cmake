# Fonts chosen by the height of their character cell, for the list and the hex views.
add_library(orvella_cellfont STATIC
  ${CMAKE_CURRENT_LIST_DIR}/CellFont.cpp ${CMAKE_CURRENT_LIST_DIR}/CellFont.h)
target_include_directories(orvella_cellfont PUBLIC ${ORVELLA_SOURCE_ROOT})
target_link_libraries(orvella_cellfont PUBLIC Qt6::Gui)
orvella_warnings(orvella_cellfont)
