# The owner-drawn partition list: a component driving four controls of its window, and
# its drawing surface on a Qt image.
add_library(orvella_listview STATIC
  CoolListView.cpp CoolListView.h
  ListSurface.cpp ListSurface.h
)
set_target_properties(orvella_listview PROPERTIES AUTOMOC ON)
target_include_directories(orvella_listview PUBLIC ${ORVELLA_SOURCE_ROOT})
target_link_libraries(orvella_listview PUBLIC orvella_listrules orvella_widgetkit Qt6::Widgets)
orvella_warnings(orvella_listview)
