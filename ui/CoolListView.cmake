# The owner-drawn partition list: a component driving four controls of its window.
add_library(orvella_listview STATIC
  Colors.h
  CoolListView.cpp CoolListView.h
  ListDrawing.cpp ListDrawing.h
  ListGeometry.h
)
set_target_properties(orvella_listview PROPERTIES AUTOMOC ON)
target_include_directories(orvella_listview PUBLIC ${ORVELLA_SOURCE_ROOT})
target_link_libraries(orvella_listview PUBLIC orvella_rows orvella_cellfont Qt6::Widgets)
orvella_warnings(orvella_listview)
