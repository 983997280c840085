# Outer (frame-inclusive) geometry of the plug-in's top-level windows.
add_library(orvella_outerframe STATIC
  ${CMAKE_CURRENT_LIST_DIR}/OuterFrame.cpp ${CMAKE_CURRENT_LIST_DIR}/OuterFrame.h)
set_target_properties(orvella_outerframe PROPERTIES AUTOMOC ON)
target_include_directories(orvella_outerframe PUBLIC ${ORVELLA_SOURCE_ROOT})
target_link_libraries(orvella_outerframe PUBLIC Qt6::Widgets)
orvella_warnings(orvella_outerframe)
