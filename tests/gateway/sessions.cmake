# Command and monitor session tests, each against an in-process gateway simulator on loopback.
powerlog_add_test(test_commandsession
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_commandsession.cpp ${CMAKE_CURRENT_LIST_DIR}/sessiontestsupport.h
    LIBS powerlog_core powerlog_simulator)
powerlog_add_test(test_monitorsession
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_monitorsession.cpp ${CMAKE_CURRENT_LIST_DIR}/sessiontestsupport.h
    LIBS powerlog_core powerlog_simulator)
