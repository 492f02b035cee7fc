powerlog_add_test(test_frmmain SOURCES test_frmmain.cpp windowharness.h
                  LIBS powerlog_ui powerlog_simulator)
powerlog_add_test(test_frmabout SOURCES test_frmabout.cpp LIBS powerlog_ui)
powerlog_add_test(test_frmmain_live SOURCES test_frmmain_live.cpp windowharness.h
                  LIBS powerlog_ui powerlog_simulator)
