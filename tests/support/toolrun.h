#pragma once

// Runs one of the built tools as users and the build run it: a process of its own, waited for
// without blocking the event loop, its exit code and output collected.

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QString>
#include <QStringList>

namespace powerlog::test {

// Generous: building a summary or laying out a PDF takes a while on a loaded machine.
constexpr int kToolTimeoutMs = 120000;

struct ToolRun
{
    int exitCode = -1; // -1 when the tool did not start or did not end by itself
    QString out;
    QString err;

    // The `key=value` lines of stdout.
    QMap<QString, QString> fields() const
    {
        QMap<QString, QString> fields;
        for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const qsizetype equals = line.indexOf(QLatin1Char('='));
            if (equals > 0)
                fields.insert(line.left(equals), line.mid(equals + 1));
        }
        return fields;
    }
};

// The environment the tools run in: the test's own, without a program folder of the user's
// (POWERLOG_HOME), or with `home` as that folder when given.
inline QProcessEnvironment toolEnvironment(const QString& home = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("POWERLOG_HOME"));
    if (!home.isEmpty())
        environment.insert(QStringLiteral("POWERLOG_HOME"), home);
    return environment;
}

inline ToolRun runTool(const QString& program, const QStringList& arguments,
                       const QProcessEnvironment& environment)
{
    QProcess tool;
    tool.setProcessEnvironment(environment);
    QSignalSpy finished(&tool, &QProcess::finished);
    tool.start(program, arguments);
    ToolRun run;
    if (tool.state() == QProcess::NotRunning || !finished.wait(kToolTimeoutMs)) {
        run.err = QStringLiteral("the tool did not run to its end: ") + tool.errorString();
        tool.kill();
        return run;
    }
    if (tool.exitStatus() == QProcess::NormalExit)
        run.exitCode = tool.exitCode();
    run.out = QString::fromUtf8(tool.readAllStandardOutput());
    run.err = QString::fromUtf8(tool.readAllStandardError());
    return run;
}

} // namespace powerlog::test
