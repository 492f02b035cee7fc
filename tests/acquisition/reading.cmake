powerlog_add_test(test_reading SOURCES test_reading.cpp LIBS powerlog_core)
