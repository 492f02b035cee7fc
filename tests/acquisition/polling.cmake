# Polling against the real command and monitor sessions and a gateway simulator on loopback.
powerlog_add_test(test_poller
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_poller.cpp
    LIBS powerlog_core powerlog_simulator)
