#pragma once

// Shared pieces of the fuzz targets: a check that stops the run with a message (libFuzzer then
// keeps the input), and the Qt application object some parts of Qt need (plugins, settings).

#include <QCoreApplication>
#include <QString>
#include <cstdio>
#include <cstdlib>

namespace powerlog::fuzz {

[[noreturn]] inline void fail(const char* condition, const char* file, int line,
                              const QString& detail = {})
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, condition);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  %s\n", qUtf8Printable(detail));
    std::abort();
}

// One application object for the whole process; made by the first target that needs it.
inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "powerlog-fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* application =
        QCoreApplication::instance() ? nullptr : new QCoreApplication(argc, argv);
    Q_UNUSED(application);
}

} // namespace powerlog::fuzz

// Each target is one source file, so this is defined once per executable. The targets make and
// drop many small Qt and SQLite allocations per execution: without the fill of new blocks and
// the stacks of allocations, and with a smaller quarantine, they run three to four times as
// fast. Out-of-bounds accesses and uses after free are still caught.
#ifndef POWERLOG_FUZZ_ASAN_OPTIONS
#define POWERLOG_FUZZ_ASAN_OPTIONS                                                                 \
    "max_malloc_fill_size=0:quarantine_size_mb=16:malloc_context_size=0"
#endif
extern "C" const char* __asan_default_options()
{
    return POWERLOG_FUZZ_ASAN_OPTIONS;
}

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::powerlog::fuzz::fail(#condition, __FILE__, __LINE__);                                \
    } while (0)

#define FUZZ_CHECK_DETAIL(condition, detail)                                                       \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::powerlog::fuzz::fail(#condition, __FILE__, __LINE__, (detail));                      \
    } while (0)
