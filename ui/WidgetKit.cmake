# What the list and the hex views share on the Qt side: the colour conversion, fonts
# chosen by the height of their character cell, the paint box's paint event and the
# scroll bar's busy tag.
add_library(orvella_widgetkit STATIC
  ${CMAKE_CURRENT_LIST_DIR}/CellFont.cpp ${CMAKE_CURRENT_LIST_DIR}/CellFont.h
  ${CMAKE_CURRENT_LIST_DIR}/Colors.h
  ${CMAKE_CURRENT_LIST_DIR}/RetainedPaint.h
  ${CMAKE_CURRENT_LIST_DIR}/ScrollBarTag.h
)
target_include_directories(orvella_widgetkit PUBLIC ${ORVELLA_SOURCE_ROOT})
target_link_libraries(orvella_widgetkit PUBLIC orvella_rows Qt6::Widgets)
orvella_warnings(orvella_widgetkit)
