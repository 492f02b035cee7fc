#pragma once

#include "acquisition/databasewriter.h"

#include <QTest>

namespace powerlog::test {

// Waits until the writer has done everything asked of it so far.
inline bool settle(DatabaseWriter& writer, int timeoutMs = 20000)
{
    bool done = false;
    writer.flush([&done] { done = true; });
    return QTest::qWaitFor([&done] { return done; }, timeoutMs);
}

} // namespace powerlog::test
