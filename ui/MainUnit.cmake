# The main window: layout, handlers, window port, glyph list and window settings.
add_library(orvella_mainwindow STATIC
  ${CMAKE_CURRENT_LIST_DIR}/MainUnit.cpp ${CMAKE_CURRENT_LIST_DIR}/MainUnit.h
  ${CMAKE_CURRENT_LIST_DIR}/MainHandlers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainPort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainPhone.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PathText.h
  ${CMAKE_CURRENT_LIST_DIR}/Glyphs.cpp ${CMAKE_CURRENT_LIST_DIR}/Glyphs.h
)
set_target_properties(orvella_mainwindow PROPERTIES AUTOMOC ON)
target_include_directories(orvella_mainwindow PUBLIC ${ORVELLA_SOURCE_ROOT})
target_link_libraries(orvella_mainwindow PUBLIC
  orvella_mainrules orvella_listview orvella_hexview orvella_outerframe orvella_settings
  orvella_image orvella_phone orvella_device orvella_contract orvella_qtcontract orvella_workfolder Qt6::Widgets)
orvella_warnings(orvella_mainwindow)
