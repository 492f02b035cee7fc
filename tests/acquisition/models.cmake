# Main-window models: live graph, load indicators and banner, activity light.
powerlog_add_test(test_livegraph
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_livegraph.cpp
    LIBS powerlog_core)
powerlog_add_test(test_loadstate
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_loadstate.cpp
    LIBS powerlog_core)
powerlog_add_test(test_activitylight
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_activitylight.cpp
    LIBS powerlog_core)
