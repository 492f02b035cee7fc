// The charts on arbitrary rows of Energy: a few rows decoded from the input go into an in-memory
// database made from the program's own schema (so the summary trigger fills EnergyHalfHour and
// EnergyDay), then
//  - both summaries equal a recomputation from the rows,
//  - ChartQueries' daily, monthly and yearly series equal dailySeries / monthlySeries /
//    yearlySeries computed in plain C++ from the same rows.
// Rows count when W is a number and Data is in the program's own text form
// ('yyyy-MM-dd HH:mm...'); any other row takes part in nothing.

// Each execution makes and drops many SQLite and Qt allocations: without a quarantine of freed
// blocks the target runs half as fast again. Accesses out of bounds are still caught.
#define POWERLOG_FUZZ_ASAN_OPTIONS                                                                 \
    "max_malloc_fill_size=0:quarantine_size_mb=0:malloc_context_size=0"
#include "fuzzsupport.h"

#include "acquisition/chartqueries.h"
#include "acquisition/chartseries.h"
#include "acquisition/energydatabase.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>
#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <optional>

using namespace powerlog;

namespace {

struct Row
{
    std::optional<qint64> w;
    QString data;
};

struct Totals
{
    qint64 samples = 0;
    qint64 sum = 0;
    qint64 max = 0;

    void add(qint64 w)
    {
        max = samples == 0 ? w : std::max(max, w);
        ++samples;
        sum += w;
    }
    bool operator==(const Totals&) const = default;
};

using TotalsByKey = std::map<QString, Totals>;

// SQLite's GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]*'.
bool isOwnForm(const QString& data)
{
    static constexpr char kPattern[] = "dddd-dd-dd dd:dd";
    if (data.size() < 16)
        return false;
    for (int i = 0; i < 16; ++i) {
        const QChar c = data.at(i);
        const bool fits = kPattern[i] == 'd' ? (c >= u'0' && c <= u'9') : c == QChar(kPattern[i]);
        if (!fits)
            return false;
    }
    return true;
}

bool counts(const Row& row)
{
    return row.w && isOwnForm(row.data);
}

QString halfHourOf(const QString& data)
{
    return data.left(14) +
           (data.mid(14, 2) < QStringLiteral("30") ? QStringLiteral("00") : QStringLiteral("30"));
}

QString dayKey(const QDate& date)
{
    return QString::asprintf("%04d-%02d-%02d", date.year(), date.month(), date.day());
}

// The database, made once per process: the schema of a new DbEnergy.mdb copied into memory.
class Database
{
public:
    Database()
    {
        fuzz::ensureApplication();
        QString error;
        const QString schemaFile = m_folder.filePath(EnergyDatabase::kFileName);
        if (!EnergyDatabase::createEmpty(schemaFile, &error))
            fuzz::fail("createEmpty", __FILE__, __LINE__, error);

        m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fuzz"));
        m_db.setDatabaseName(QStringLiteral(":memory:"));
        if (!m_db.open())
            fuzz::fail("open", __FILE__, __LINE__, m_db.lastError().text());
        QSqlQuery attach(m_db);
        attach.prepare(QStringLiteral("ATTACH DATABASE ? AS schema"));
        attach.addBindValue(schemaFile);
        run(attach);
        QSqlQuery statements(m_db);
        run(statements, QStringLiteral("SELECT sql FROM schema.sqlite_master WHERE sql NOT NULL "
                                       "ORDER BY CASE type WHEN 'table' THEN 0 "
                                       "WHEN 'index' THEN 1 ELSE 2 END"));
        QStringList schema;
        while (statements.next())
            schema << statements.value(0).toString();
        statements.finish();
        FUZZ_CHECK(schema.size() >= 4);
        for (const QString& sql : std::as_const(schema)) {
            QSqlQuery create(m_db);
            run(create, sql);
        }
        QSqlQuery detach(m_db);
        run(detach, QStringLiteral("DETACH DATABASE schema"));

        for (const QString& table :
             {QStringLiteral("Energy"), EnergyDatabase::kRollupTable, EnergyDatabase::kDayTable}) {
            m_deletes.emplace_back(m_db);
            m_deletes.back().prepare(QStringLiteral("DELETE FROM ") + table);
        }
        m_insert = QSqlQuery(m_db);
        m_insert.prepare(QStringLiteral("INSERT INTO Energy (V, a, W, e, Data) "
                                        "VALUES (230.5, 1.25, ?, 12.5, ?)"));
        m_summaries = QSqlQuery(m_db);
        m_summaries.setForwardOnly(true);
        m_summaries.prepare(QStringLiteral("SELECT Slot, Samples, SumW, MaxW FROM %1 UNION ALL "
                                           "SELECT Day, Samples, SumW, MaxW FROM %2")
                                .arg(EnergyDatabase::kRollupTable, EnergyDatabase::kDayTable));
    }

    void reset()
    {
        for (QSqlQuery& query : m_deletes)
            run(query);
    }

    void insert(const Row& row)
    {
        m_insert.bindValue(0, row.w ? QVariant(*row.w) : QVariant(QMetaType::fromType<qint64>()));
        m_insert.bindValue(1, row.data);
        run(m_insert);
    }

    // Both summaries, half hours and days, by their keys (which never collide: a slot is
    // longer than a day).
    TotalsByKey summaries()
    {
        run(m_summaries);
        TotalsByKey totals;
        while (m_summaries.next()) {
            totals[m_summaries.value(0).toString()] = {m_summaries.value(1).toLongLong(),
                                                       m_summaries.value(2).toLongLong(),
                                                       m_summaries.value(3).toLongLong()};
        }
        m_summaries.finish();
        return totals;
    }

    QSqlDatabase db() const { return m_db; }

private:
    static void run(QSqlQuery& query, const QString& sql = {})
    {
        if (!(sql.isEmpty() ? query.exec() : query.exec(sql)))
            fuzz::fail("statement", __FILE__, __LINE__,
                       query.lastQuery() + QStringLiteral(": ") + query.lastError().text());
    }

    QTemporaryDir m_folder;
    QSqlDatabase m_db;
    std::vector<QSqlQuery> m_deletes;
    QSqlQuery m_insert;
    QSqlQuery m_summaries;
};

QDate rowDate(FuzzedDataProvider& input, const QDate& chartDay, int choice)
{
    switch (choice) {
    case 0:
        return chartDay;
    case 1:
        return chartDay.addDays(input.ConsumeBool() ? 1 : -1);
    case 2: {
        const QDate first(chartDay.year(), chartDay.month(), 1);
        return first.addDays(input.ConsumeIntegralInRange(-1, first.daysInMonth()));
    }
    default: {
        const QDate first(chartDay.year() + input.ConsumeIntegralInRange(-1, 31), 1, 1);
        return first.addDays(input.ConsumeIntegralInRange(0, 365));
    }
    }
}

Row decodeRow(FuzzedDataProvider& input, const QDate& chartDay)
{
    const auto shape = input.ConsumeIntegral<quint8>();
    const QDate date = rowDate(input, chartDay, shape & 3);
    const int hour = input.ConsumeIntegralInRange(0, 23);
    const int minute = input.ConsumeIntegralInRange(0, 59);
    const int second = input.ConsumeIntegralInRange(0, 59);
    Row row;
    switch ((shape >> 2) & 3) {
    case 0:
    case 1: // what the program writes
        row.data =
            QString::asprintf("%s %02d:%02d:%02d", qPrintable(dayKey(date)), hour, minute, second);
        break;
    case 2: // an older writer's form without seconds: still counted
        row.data = QString::asprintf("%s %02d:%02d", qPrintable(dayKey(date)), hour, minute);
        break;
    default: // anything else, never in the program's own form
        row.data = QStringLiteral("x") + QString::fromLatin1(input.ConsumeRandomLengthString(24));
        break;
    }
    switch ((shape >> 4) & 3) {
    case 0:
        break; // NULL
    case 1:
    case 2:
        row.w = input.ConsumeIntegral<qint16>();
        break;
    default:
        row.w = input.ConsumeIntegral<qint32>();
        break;
    }
    return row;
}

// Per key: the totals of the counted rows whose Data gives that key.
template <typename KeyOf> std::map<int, Totals> groupsOf(const std::vector<Row>& rows, KeyOf keyOf)
{
    std::map<int, Totals> groups;
    for (const Row& row : rows) {
        if (!counts(row))
            continue;
        if (const std::optional<int> key = keyOf(row.data))
            groups[*key].add(*row.w);
    }
    return groups;
}

QList<PeriodGroup> periodGroups(const std::map<int, Totals>& groups)
{
    QList<PeriodGroup> list;
    for (const auto& [key, totals] : groups)
        list << PeriodGroup{key, double(totals.sum) / double(totals.samples), totals.max};
    return list;
}

ChartSeries expectedSeries(ChartType type, const QDate& chartDay, const std::vector<Row>& rows)
{
    const QDate first = chartPeriodStart(type, chartDay);
    switch (type) {
    case ChartType::Daily: {
        const QString day = dayKey(first);
        const auto minutes = groupsOf(rows, [&](const QString& data) -> std::optional<int> {
            if (data.left(10) != day)
                return std::nullopt;
            return data.mid(11, 2).toInt() * 60 + data.mid(14, 2).toInt();
        });
        QList<MinuteGroup> list;
        for (const auto& [minute, totals] : minutes)
            list << MinuteGroup{minute, double(totals.sum) / double(totals.samples), totals.max};
        return dailySeries(first, list);
    }
    case ChartType::Monthly: {
        const QString from = dayKey(first);
        const QString to = dayKey(first.addMonths(1));
        return monthlySeries(
            first, periodGroups(groupsOf(rows, [&](const QString& data) -> std::optional<int> {
                const QString day = data.left(10);
                if (day < from || day >= to)
                    return std::nullopt;
                return data.mid(8, 2).toInt();
            })));
    }
    case ChartType::Yearly: {
        const int year = first.year();
        return yearlySeries(
            first, periodGroups(groupsOf(rows, [&](const QString& data) -> std::optional<int> {
                const int rowYear = data.left(4).toInt();
                if (rowYear < year || rowYear >= year + 31)
                    return std::nullopt;
                return rowYear;
            })));
    }
    }
    return {};
}

QString describe(const ChartSeries& s)
{
    QString text = QStringLiteral("max %1 avg %2:").arg(s.maxPower).arg(s.avgPower);
    for (int g = 1; g <= s.groupCount(); ++g) {
        if (s.avg[std::size_t(g)] != 0 || s.max[std::size_t(g)] != 0)
            text += QStringLiteral(" %1=%2/%3")
                        .arg(g)
                        .arg(s.avg[std::size_t(g)])
                        .arg(s.max[std::size_t(g)]);
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Database database;
    FuzzedDataProvider input(data, size);

    // One chart per execution keeps each one cheap; the fuzzer picks which.
    const auto type = ChartType(input.ConsumeIntegralInRange(1, 3));
    const int year = input.ConsumeIntegralInRange(2000, 2040);
    const int month = input.ConsumeIntegralInRange(1, 12);
    const QDate chartDay =
        QDate(year, month, 1)
            .addDays(input.ConsumeIntegralInRange(0, 30) % QDate(year, month, 1).daysInMonth());

    std::vector<Row> rows;
    while (input.remaining_bytes() > 0 && rows.size() < 8)
        rows.push_back(decodeRow(input, chartDay));

    // One transaction per execution: the statements of one commit cost less than their own.
    FUZZ_CHECK(database.db().transaction());
    database.reset();
    for (const Row& row : rows)
        database.insert(row);
    FUZZ_CHECK(database.db().commit());

    TotalsByKey summaries;
    for (const Row& row : rows) {
        if (!counts(row))
            continue;
        summaries[halfHourOf(row.data)].add(*row.w);
        summaries[row.data.left(10)].add(*row.w);
    }
    FUZZ_CHECK(database.summaries() == summaries);

    ReadError error;
    const std::optional<ChartSeries> read =
        ChartQueries(database.db()).series(type, chartDay, &error);
    FUZZ_CHECK_DETAIL(read.has_value(), error.description);
    const ChartSeries expected = expectedSeries(type, chartDay, rows);
    FUZZ_CHECK_DETAIL(
        *read == expected,
        QStringLiteral("chart %1 of %2\n  read     %3\n  expected %4")
            .arg(int(type))
            .arg(chartDay.toString(Qt::ISODate), describe(*read), describe(expected)));
    return 0;
}
