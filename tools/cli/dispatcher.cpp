#include "dispatcher.h"

#include "app/programfolder.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace powerlog::cli {

namespace {

// "-h, --help" or "--folder DIR", as the help shows an option.
QString optionSyntax(const QCommandLineOption& option)
{
    QStringList names;
    for (const QString& name : option.names())
        names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    QString syntax = names.join(QStringLiteral(", "));
    if (!option.valueName().isEmpty())
        syntax += QLatin1Char(' ') + option.valueName();
    return syntax;
}

// Two columns, the first as wide as its widest entry; a line break in the second column
// continues under it.
QString table(const QList<std::pair<QString, QString>>& rows)
{
    qsizetype width = 0;
    for (const auto& [left, right] : rows)
        width = std::max(width, left.size());
    QString text;
    for (const auto& [left, right] : rows) {
        const QStringList lines = right.split(QLatin1Char('\n'));
        text += QStringLiteral("  %1  %2\n").arg(left.leftJustified(width), lines.constFirst());
        for (const QString& line : lines.mid(1))
            text += QString(width + 4, QLatin1Char(' ')) + line + QLatin1Char('\n');
    }
    return text;
}

} // namespace

int expectNoArguments(const Invocation& invocation)
{
    if (invocation.arguments.isEmpty())
        return kExitOk;
    invocation.err << kProgramName << ": " << invocation.command
                   << " takes no arguments: " << invocation.arguments.join(QLatin1Char(' '))
                   << Qt::endl;
    return kExitUsage;
}

bool databaseFileExists(const Invocation& invocation, const QString& path)
{
    if (QFileInfo(path).isFile())
        return true;
    invocation.err << kProgramName << ": file not found: " << QDir::toNativeSeparators(path)
                   << Qt::endl;
    return false;
}

CommandDispatcher::CommandDispatcher(QTextStream& out, QTextStream& err)
    : m_out(out), m_err(err),
      m_folder(QStringLiteral("folder"),
               QStringLiteral("the program folder, holding DbEnergy.mdb\n"
                              "(default: $POWERLOG_HOME, else the executable's folder,\n"
                              "or the user's data folder for an installed copy)"),
               QStringLiteral("DIR")),
      m_settings(QStringLiteral("settings"),
                 QStringLiteral("the settings file to take prices from\n"
                                "(default: the user's own settings)"),
                 QStringLiteral("FILE")),
      m_help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("show this help"))
{
}

void CommandDispatcher::add(Command command)
{
    m_commands.append(std::move(command));
}

const Command* CommandDispatcher::find(const QString& name) const
{
    const auto found = std::find_if(m_commands.cbegin(), m_commands.cend(),
                                    [&name](const Command& each) { return each.name == name; });
    return found == m_commands.cend() ? nullptr : &*found;
}

QList<QCommandLineOption> CommandDispatcher::sharedOptions() const
{
    return {m_folder, m_settings, m_help};
}

int CommandDispatcher::usageError(const QString& reason)
{
    m_err << kProgramName << ": " << reason << "\n\n" << usage() << Qt::flush;
    return kExitUsage;
}

int CommandDispatcher::run(const QStringList& arguments)
{
    // First pass: the shared options, and the command's name as the first positional
    // argument; everything after it is left for the second pass.
    QCommandLineParser shared;
    shared.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    shared.addOptions(sharedOptions());
    if (!shared.parse(arguments))
        return usageError(shared.errorText());
    if (shared.isSet(m_help)) {
        m_out << usage() << Qt::flush;
        return kExitOk;
    }
    if (shared.positionalArguments().isEmpty())
        return usageError(QStringLiteral("no command given"));
    const QString name = shared.positionalArguments().constFirst();
    const Command* command = find(name);
    if (!command)
        return usageError(QStringLiteral("unknown command '%1'").arg(name));

    // Second pass: the shared options and the command's own, anywhere on the line.
    QCommandLineParser parser;
    parser.addOptions(sharedOptions() + command->options);
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(m_help)) {
        m_out << usage() << Qt::flush;
        return kExitOk;
    }
    const Invocation invocation{name,
                                resolveProgramFolder(parser.value(m_folder)),
                                parser.value(m_settings),
                                parser.positionalArguments().mid(1),
                                parser,
                                m_out,
                                m_err};
    const int code = command->run(invocation);
    m_out.flush();
    if (code == kExitUsage)
        m_err << '\n' << usage();
    m_err.flush();
    return code;
}

QString CommandDispatcher::usage() const
{
    QList<std::pair<QString, QString>> commands;
    QList<std::pair<QString, QString>> options;
    for (const QCommandLineOption& option : sharedOptions())
        options.append({optionSyntax(option), option.description()});
    for (const Command& command : m_commands) {
        commands.append(
            {(command.name + QLatin1Char(' ') + command.arguments).trimmed(), command.summary});
        for (const QCommandLineOption& option : command.options)
            options.append({optionSyntax(option),
                            QStringLiteral("%1 (%2)").arg(option.description(), command.name)});
    }
    const QList<std::pair<QString, QString>> exitCodes{
        {QString::number(kExitOk), QStringLiteral("all is well")},
        {QString::number(kExitFault), QStringLiteral("a fault was found, or the work failed")},
        {QString::number(kExitNoDatabase),
         QStringLiteral("the database is missing or cannot be opened")},
        {QString::number(kExitUsage), QStringLiteral("wrong usage")},
    };
    return QStringLiteral("Usage: %1 [--folder DIR] [--settings FILE] COMMAND [args]\n\n"
                          "Works on the energy database DbEnergy.mdb without a window.\n\n"
                          "Commands:\n%2\nOptions:\n%3\nExit codes:\n%4")
        .arg(kProgramName, table(commands), table(options), table(exitCodes));
}

} // namespace powerlog::cli
