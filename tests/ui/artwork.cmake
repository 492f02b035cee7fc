# Live graph painting and the program's pictures.
powerlog_add_test(test_graphpainter
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_graphpainter.cpp
    LIBS powerlog_ui)
powerlog_add_test(test_artwork
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_artwork.cpp
    LIBS powerlog_ui)
