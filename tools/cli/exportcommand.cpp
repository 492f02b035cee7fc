#include "exportcommand.h"

#include "readaccess.h"

#include "acquisition/energydatabase.h"
#include "acquisition/energyexport.h"
#include "app/language.h"

#include <QDir>
#include <QFileInfo>
#include <optional>

namespace powerlog::cli {

namespace {

const QString kTimeForm = QStringLiteral("yyyy-MM-dd HH:mm:ss");

const QCommandLineOption kKind(QStringLiteral("kind"),
                               QStringLiteral("what to export: the readings (default), or the\n"
                                              "kWh and cost of each hour"),
                               QStringLiteral("readings|hourly"), QStringLiteral("readings"));
const QCommandLineOption kSeparator(QStringLiteral("separator"),
                                    QStringLiteral("the separator between values (default comma)"),
                                    QStringLiteral("comma|semicolon|tab|space"),
                                    QStringLiteral("comma"));
const QCommandLineOption kFrom(QStringLiteral("from"),
                               QStringLiteral("first moment of the period, with --to"),
                               QStringLiteral("\"YYYY-MM-DD HH:MM:SS\""));
const QCommandLineOption kTo(QStringLiteral("to"),
                             QStringLiteral("last moment of the period, with --from"),
                             QStringLiteral("\"YYYY-MM-DD HH:MM:SS\""));
const QCommandLineOption kLanguage(QStringLiteral("language"),
                                   QStringLiteral("language of the readings' headings (default:\n"
                                                  "Italian in an Italian locale, else English)"),
                                   QStringLiteral("ita|eng"));

// The heading line of the hourly energy, the same in every language, for scripts.
const QStringList kHourFields{QStringLiteral("hour"),   QStringLiteral("kwh"),
                              QStringLiteral("f1_kwh"), QStringLiteral("f2_kwh"),
                              QStringLiteral("f3_kwh"), QStringLiteral("cost")};

std::optional<ExportKind> kindNamed(const QString& name)
{
    if (name == QLatin1String("readings"))
        return ExportKind::Readings;
    if (name == QLatin1String("hourly"))
        return ExportKind::HourlyEnergy;
    return std::nullopt;
}

std::optional<ExportSeparator> separatorNamed(const QString& name)
{
    const std::pair<const char*, ExportSeparator> names[] = {
        {"comma", ExportSeparator::Comma},
        {"semicolon", ExportSeparator::Semicolon},
        {"tab", ExportSeparator::Tab},
        {"space", ExportSeparator::Space},
    };
    for (const auto& [text, separator] : names) {
        if (name == QLatin1String(text))
            return separator;
    }
    return std::nullopt;
}

int usage(const Invocation& invocation, const QString& complaint)
{
    invocation.err << kProgramName << ": export: " << complaint << Qt::endl;
    return kExitUsage;
}

int runExport(const Invocation& invocation)
{
    if (invocation.arguments.size() != 1)
        return usage(invocation, QStringLiteral("give one file to write"));
    const QCommandLineParser& parser = invocation.parser;

    const std::optional<ExportKind> kind = kindNamed(parser.value(kKind));
    if (!kind)
        return usage(invocation, QStringLiteral("unknown kind '%1'").arg(parser.value(kKind)));
    const bool hourly = *kind == ExportKind::HourlyEnergy;

    const std::optional<ExportSeparator> separator = separatorNamed(parser.value(kSeparator));
    if (!separator)
        return usage(invocation,
                     QStringLiteral("unknown separator '%1'").arg(parser.value(kSeparator)));

    QLocale locale;
    QString language =
        locale.language() == QLocale::Italian ? QStringLiteral("ita") : QStringLiteral("eng");
    if (parser.isSet(kLanguage) && hourly)
        return usage(invocation, QStringLiteral("--language is for the readings' headings"));
    if (parser.isSet(kLanguage)) {
        language = parser.value(kLanguage);
        if (!languageColumn(language))
            return usage(invocation, QStringLiteral("unknown language '%1'").arg(language));
    }

    ExportRequest request{QFileInfo(invocation.arguments.constFirst()).absoluteFilePath(),
                          *separator,
                          {},
                          locale,
                          std::nullopt,
                          *kind,
                          {}};
    if (hourly) {
        request.headings = kHourFields;
    } else {
        for (Text id :
             {Text::ExportHeadingTension, Text::ExportHeadingCurrent, Text::ExportHeadingPower,
              Text::ExportHeadingEnergy, Text::ExportHeadingDate})
            request.headings << textFor(id, language);
    }

    if (parser.isSet(kFrom) != parser.isSet(kTo))
        return usage(invocation, QStringLiteral("--from and --to go together"));
    if (parser.isSet(kFrom)) {
        const QDateTime from = QDateTime::fromString(parser.value(kFrom), kTimeForm);
        const QDateTime to = QDateTime::fromString(parser.value(kTo), kTimeForm);
        if (!from.isValid() || !to.isValid())
            return usage(invocation, QStringLiteral("a moment is written \"YYYY-MM-DD HH:MM:SS\""));
        if (from > to)
            return usage(invocation, QStringLiteral("--from is after --to"));
        request.period = {from, to};
    }

    const QString database = QDir(invocation.folder).filePath(EnergyDatabase::kFileName);
    if (!databaseFileExists(invocation, database))
        return kExitNoDatabase;
    if (hourly)
        request.prices = settingsPrices(invocation);
    // The export window's own code, here on the command's thread: there is no window to keep
    // responsive.
    const ExportResult result = exportEnergy(database, request);
    switch (result.kind) {
    case ExportResult::Kind::Ok:
        invocation.out << "exported " << result.rows << (result.rows == 1 ? " row" : " rows")
                       << " to " << QDir::toNativeSeparators(request.path) << '\n';
        return kExitOk;
    case ExportResult::Kind::NoConnection:
        invocation.err << kProgramName << ": cannot open " << QDir::toNativeSeparators(database)
                       << ": " << result.error << Qt::endl;
        return kExitNoDatabase;
    case ExportResult::Kind::ReadFailed:
        invocation.err << kProgramName << ": cannot read the " << (hourly ? "energy" : "readings")
                       << ": " << result.error << Qt::endl;
        return kExitFault;
    case ExportResult::Kind::WriteFailed:
    case ExportResult::Kind::Cancelled:
        invocation.err << kProgramName << ": cannot write "
                       << QDir::toNativeSeparators(request.path) << ": " << result.error
                       << Qt::endl;
        return kExitFault;
    }
    return kExitFault;
}

} // namespace

Command exportCommand()
{
    return {QStringLiteral("export"),
            QStringLiteral("FILE"),
            QStringLiteral("write the readings, or with --kind hourly the kWh and cost\n"
                           "of each hour, to FILE as the export window does, in the\n"
                           "environment's locale; all of them, or --from/--to"),
            {kKind, kSeparator, kFrom, kTo, kLanguage},
            runExport};
}

} // namespace powerlog::cli
