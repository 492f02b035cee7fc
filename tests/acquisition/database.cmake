powerlog_add_test(test_energydatabase SOURCES test_energydatabase.cpp LIBS powerlog_core)
# The build helper is exercised too: the test runs the freshly built tool.
add_dependencies(test_energydatabase powerlog-mkdb)
target_compile_definitions(test_energydatabase PRIVATE
    POWERLOG_MKDB_PATH="$<TARGET_FILE:powerlog-mkdb>")
