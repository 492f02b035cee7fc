#include "ui/common/databaseprompts.h"

#include "app/language.h"
#include "app/prompts.h"

#include <QCoreApplication>

namespace powerlog {

namespace {

QString programName()
{
    const QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("Powerlog") : name;
}

void tell(const std::function<void(bool)>& busy, bool on)
{
    if (busy)
        busy(on);
}

void finish(const std::function<void()>& done)
{
    if (done)
        done();
}

} // namespace

void showDatabaseResult(Prompts& prompts, const DatabaseResult& result)
{
    switch (result.kind) {
    case DatabaseResult::Kind::Ok:
        return;
    case DatabaseResult::Kind::NoConnection:
        // The title carries no translation: any language column gives the same words.
        prompts.message(textIn(Text::DatabaseConnectionError, kItalian), result.error,
                        Prompts::Icon::Critical);
        return;
    case DatabaseResult::Kind::Failed:
        prompts.message(programName(), result.error, Prompts::Icon::Critical);
        return;
    }
}

void clearDatabase(DatabaseWriter& database, Prompts& prompts, const QString& languageCode,
                   std::function<void(bool busy)> busy, std::function<void()> done)
{
    const QString title = programName();
    auto offerCompaction = [&database, &prompts, languageCode, title, busy,
                            done](const DatabaseResult& cleared) {
        if (!cleared.ok()) {
            showDatabaseResult(prompts, cleared);
            finish(done);
            return;
        }
        prompts.askYesNo(title, textFor(Text::TableClearedCompactQuestion, languageCode),
                         [&database, &prompts, languageCode, busy, done](bool compact) {
                             if (compact)
                                 compactDatabase(database, prompts, languageCode, busy, done);
                             else
                                 finish(done);
                         });
    };
    prompts.askYesNo(title, textFor(Text::ClearDatabaseQuestion, languageCode),
                     [&database, done, offerCompaction = std::move(offerCompaction)](bool clear) {
                         if (clear)
                             database.clearAllRows(offerCompaction);
                         else
                             finish(done);
                     });
}

void compactDatabase(DatabaseWriter& database, Prompts& prompts, const QString& languageCode,
                     std::function<void(bool busy)> busy, std::function<void()> done)
{
    tell(busy, true);
    database.compact([&prompts, languageCode, busy, done](const DatabaseResult& result) {
        tell(busy, false);
        if (result.ok()) {
            prompts.message(programName(), textFor(Text::DatabaseCompacted, languageCode),
                            Prompts::Icon::Information);
        } else {
            prompts.message(programName(),
                            textFor(Text::CompactionFailed, languageCode) + kCrLf + result.error,
                            Prompts::Icon::Critical);
        }
        finish(done);
    });
}

} // namespace powerlog
