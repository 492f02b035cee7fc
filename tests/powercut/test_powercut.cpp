// Power cuts at many moments of recording, of the summaries' build, of clearing and of
// compaction. The file layer of powercutvfs.h forgets every write not yet synced (or tears the
// last one) at a chosen write; the program's writer is then shut down, and the file, opened
// again with the real layer, must be whole: SQLite's integrity check passes, every reading the
// writer reported written is there, nothing else is, the summaries and the hour table equal a
// count from Energy (`powerlog-cli check`), and DbEnergy.mdb is there.
//
// Each case first runs without a cut to count its writes, then cuts at points spread over them,
// at random ones (fixed seed) and around changes of the file written to. The renames of a
// compaction, which the layer does not see, are cut through the rename hook.
// POWERLOG_POWERCUT_LONG=1 runs many more points.

#include "powercutvfs.h"

#include "acquisition/databasewriter.h"
#include "acquisition/energycompaction.h"
#include "acquisition/energyexport.h"
#include "support/sqlfile.h"
#include "support/toolrun.h"

#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QSet>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>

using namespace powerlog;
using namespace powerlog::test;

namespace {

using CutMode = PowerCutVfs::CutMode;

// What the writer does while the power may go.
enum class Work {
    Recording,    // readings queued on an open file
    SummaryBuild, // the summaries of a file without them built on open, readings behind
    Clearing,     // readings, the table cleared, readings
    Compaction,   // readings, a compaction, readings into the compacted file
};

// Where the renames of a compaction cut the power, besides the writes the layer sees.
enum class RenameCut {
    None,
    // The copy's rename is lost with the power (the folder was never synced): the previous
    // file under the name, its second name DbEnergy.bak, the whole copy in temp.mdb.
    RenameLost,
    AfterRename, // the copy has the name; whatever of it was not synced is lost
};

// Rows of the fixtures have e 1..n; readings handed to the writer start here.
constexpr qint64 kFirstPosted = 100000;

// What the writer was asked and what it reported.
struct Outcome
{
    QSet<qint64> before; // e of the rows in the file before the run
    QSet<qint64> posted;
    QSet<qint64> committed;
    QSet<qint64> postedBeforeClear;
    QSet<qint64> committedBeforeClear;
    std::optional<bool> cleared; // the clearing's result, when it ran
    qint64 writes = 0;
    QStringList written; // the file of each write
    qint64 dropped = 0;  // unsynced writes lost at the cut
    bool cut = false;
};

Reading readingNumber(int i)
{
    const QDateTime start(QDate(2026, 12, 5), QTime(22, 0, 0));
    Reading r;
    const int watts = (i * 53) % 3000;
    r.V = QStringLiteral("230");
    r.A = QStringLiteral("2");
    r.W = QString::number(watts);
    r.E = QString::number(kFirstPosted + i);
    r.power = qint16(watts);
    r.energy = double(kFirstPosted + i);
    // Every 7 minutes: half hours, hours and a day go by.
    r.time = start.addSecs(qint64(i) * 7 * 60);
    return r;
}

// `rows` readings one an hour from 2026-09-01, e 1..rows, into the open file's Energy (its
// triggers fill the summaries when it has them).
bool addRows(const SqlFile& sql, int rows)
{
    return sql.exec(
        QStringLiteral(
            "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
            "INSERT INTO Energy (V, a, W, e, Data) SELECT 230, 2, (i * 37) % 3000, i + 1, "
            "strftime('%Y-%m-%d %H:%M:%S', '2026-09-01 00:00:00', '+' || (i * 3600) || ' seconds') "
            "FROM n")
            .arg(rows - 1));
}

QSet<qint64> energies(const SqlFile& sql, bool* ok)
{
    QSet<qint64> values;
    QSqlQuery query(sql.db());
    *ok = query.exec(QStringLiteral("SELECT e FROM Energy"));
    while (query.next())
        values.insert(query.value(0).toLongLong());
    return values;
}

QString listOf(const QSet<qint64>& values)
{
    QList<qint64> sorted(values.begin(), values.end());
    std::sort(sorted.begin(), sorted.end());
    QStringList texts;
    for (qint64 v : sorted.mid(0, 8))
        texts << QString::number(v);
    return texts.join(QLatin1Char(',')) + (sorted.size() > 8 ? QStringLiteral(",...") : QString());
}

class Rig
{
public:
    explicit Rig(Work work) : m_work(work) {}

    QString folder() const { return m_dir.path(); }
    QString file() const { return QDir(folder()).filePath(EnergyDatabase::kFileName); }

    // The file the work starts from, written with the real layer; false when it could not be.
    bool prepare(Outcome* outcome)
    {
        bool ok = true;
        int rows = 0;
        if (m_work == Work::SummaryBuild) {
            // As written by hand or another program: Energy alone, a rollback journal.
            rows = 1500;
            SqlFile sql(file());
            ok = sql.exec(QStringLiteral(
                     "CREATE TABLE Energy (V REAL, a REAL, W INTEGER, e REAL, Data TEXT)")) &&
                 addRows(sql, rows);
        } else {
            rows = m_work == Work::Recording ? 50 : m_work == Work::Clearing ? 300 : 400;
            ok = EnergyDatabase::createEmpty(file());
            SqlFile sql(file());
            ok = ok && addRows(sql, rows);
        }
        for (int i = 1; i <= rows; ++i)
            outcome->before.insert(i);
        return ok;
    }

    // Runs the work through a layer that cuts at `cutAt` (0: never) and shuts the writer down.
    // False when the writer did not answer.
    bool run(qint64 cutAt, CutMode mode, RenameCut renameCut, Outcome* outcome)
    {
        PowerCutVfs vfs(cutAt, mode);
        bool answered = false;
        {
            auto writer = std::make_unique<DatabaseWriter>(folder());
            if (m_work == Work::Compaction && renameCut != RenameCut::None) {
                writer->setRenameFunction(
                    [&vfs, renameCut](const QString& from, const QString& to) {
                        if (renameCut == RenameCut::RenameLost) {
                            vfs.cutNow();
                            return true;
                        }
                        const bool renamed = replaceFile(from, to);
                        vfs.cutNow();
                        return renamed;
                    });
            }
            std::deque<qint64> waiting; // e of the inserts whose result has not come
            int jobs = 0;               // other jobs whose result has not come
            bool clearing = false;
            const auto resolved = [&](bool written) {
                const qint64 e = waiting.front();
                waiting.pop_front();
                if (written) {
                    outcome->committed.insert(e);
                    if (outcome->postedBeforeClear.contains(e))
                        outcome->committedBeforeClear.insert(e);
                }
            };
            QObject::connect(writer.get(), &DatabaseWriter::inserted, [&] { resolved(true); });
            QObject::connect(writer.get(), &DatabaseWriter::insertFailed,
                             [&](const DatabaseResult&) { resolved(false); });
            QObject::connect(writer.get(), &DatabaseWriter::opened,
                             [&](const DatabaseResult&) { --jobs; });
            int next = 0;
            const auto post = [&](int count) {
                for (int i = 0; i < count; ++i, ++next) {
                    const Reading reading = readingNumber(next);
                    waiting.push_back(qint64(*reading.energy));
                    outcome->posted.insert(qint64(*reading.energy));
                    if (!clearing && m_work == Work::Clearing)
                        outcome->postedBeforeClear.insert(qint64(*reading.energy));
                    writer->insert(reading);
                }
            };

            ++jobs;
            writer->open();
            switch (m_work) {
            case Work::Recording:
                post(300);
                break;
            case Work::SummaryBuild:
                post(20);
                break;
            case Work::Clearing:
                post(20);
                ++jobs;
                clearing = true;
                writer->clearAllRows([&](const DatabaseResult& result) {
                    outcome->cleared = result.ok();
                    --jobs;
                });
                post(20);
                break;
            case Work::Compaction:
                post(10);
                ++jobs;
                writer->compact([&](const DatabaseResult&) { --jobs; });
                post(30);
                break;
            }
            answered =
                QTest::qWaitFor([&] { return waiting.empty() && jobs == 0; }, kToolTimeoutMs);
            writer.reset();
        }
        outcome->writes = vfs.writes();
        outcome->written = vfs.writtenFiles();
        outcome->dropped = vfs.droppedAtCut();
        outcome->cut = vfs.isCut();
        // Without a cut the page cache reaches the disk in time.
        if (!outcome->cut)
            vfs.flushAll();
        return answered && vfs.openHandles() == 0;
    }

    // What is wrong with the folder as the power came back; empty when nothing is.
    QStringList faults(const Outcome& outcome) const
    {
        QStringList faults;
        if (!QFileInfo::exists(file()))
            return {QStringLiteral("DbEnergy.mdb is missing")};
        // The shared memory of the WAL is lost with the power; SQLite rebuilds it from the WAL.
        for (const QString& name : {EnergyDatabase::kFileName, EnergyDatabase::kTempName})
            QFile::remove(QDir(folder()).filePath(name) + QStringLiteral("-shm"));

        {
            SqlFile sql(file());
            QSqlQuery integrity(sql.db());
            if (!integrity.exec(QStringLiteral("PRAGMA integrity_check")) || !integrity.next())
                faults << QStringLiteral("integrity_check cannot run: %1")
                              .arg(integrity.lastError().text());
            else if (integrity.value(0).toString() != QStringLiteral("ok"))
                faults << QStringLiteral("integrity_check: %1").arg(integrity.value(0).toString());
            bool read = false;
            const QSet<qint64> found = energies(sql, &read);
            if (!read)
                return faults << QStringLiteral("Energy cannot be read");
            // Rows written before a clearing are checked with the clearing, below.
            const QSet<qint64> lost = outcome.committed - outcome.committedBeforeClear - found;
            if (!lost.isEmpty())
                faults << QStringLiteral("%1 readings reported written are missing: %2")
                              .arg(lost.size())
                              .arg(listOf(lost));
            const QSet<qint64> unknown = found - outcome.before - outcome.posted;
            if (!unknown.isEmpty())
                faults << QStringLiteral("rows nobody wrote: %1").arg(listOf(unknown));
            const QSet<qint64> earlier = outcome.before + outcome.committedBeforeClear;
            const QSet<qint64> earlierFound = found & (outcome.before + outcome.postedBeforeClear);
            if (m_work != Work::Clearing) {
                if (!(outcome.before - found).isEmpty())
                    faults << QStringLiteral("%1 rows of the file before the run are missing")
                                  .arg((outcome.before - found).size());
            } else if (outcome.cleared.value_or(false) && !earlierFound.isEmpty()) {
                faults << QStringLiteral("%1 rows from before a reported clearing are back")
                              .arg(earlierFound.size());
            } else if (!earlierFound.isEmpty() && !(earlier - found).isEmpty()) {
                faults << QStringLiteral("the clearing is half done: %1 of its rows remain")
                              .arg(earlierFound.size());
            }
        }

        const ToolRun check = runTool(
            QStringLiteral(POWERLOG_CLI),
            {QStringLiteral("--folder"), folder(), QStringLiteral("check")}, toolEnvironment());
        if (check.exitCode != 0)
            faults << QStringLiteral("powerlog-cli check: %1 %2")
                          .arg(check.out.simplified(), check.err.simplified());
        return faults;
    }

private:
    Work m_work;
    QTemporaryDir m_dir;
};

// One run from a fresh fixture: the faults found, each prefixed with where the power went.
// `then` runs on the folder afterwards when nothing was found, and adds what it finds.
QStringList cutOnce(Work work, qint64 cutAt, CutMode mode, RenameCut renameCut,
                    Outcome* outcome = nullptr,
                    const std::function<QStringList(const QString& folder)>& then = {})
{
    Outcome own;
    Outcome& result = outcome ? *outcome : own;
    Rig rig(work);
    const QString where =
        renameCut == RenameCut::None
            ? QStringLiteral("cut at write %1").arg(cutAt)
            : (renameCut == RenameCut::RenameLost ? QStringLiteral("rename lost")
                                                  : QStringLiteral("cut after the rename"));
    if (!rig.prepare(&result))
        return {where + QStringLiteral(": the fixture could not be written")};
    if (!rig.run(cutAt, mode, renameCut, &result))
        return {where + QStringLiteral(": the writer did not answer or left files open")};
    QStringList faults = rig.faults(result);
    if (faults.isEmpty() && then)
        faults = then(rig.folder());
    for (QString& fault : faults)
        fault.prepend(where + QStringLiteral(": "));
    return faults;
}

bool longRun()
{
    return qEnvironmentVariableIntValue("POWERLOG_POWERCUT_LONG") != 0;
}

// The writes around each change of the file written to: the last one to a file and the first
// one to the next (a checkpoint begins or ends, a journal gives way to the database...).
QList<qint64> fileChanges(const QStringList& written)
{
    QList<qint64> changes;
    for (qsizetype i = 1; i < written.size(); ++i) {
        if (written[i] != written[i - 1])
            changes << i << i + 1;
    }
    return changes;
}

// Cut points over the writes of an uncut run (`written`, the file of each): the last write,
// `spread` points evenly spread, `random` ones, up to `changes` of the writes around a change
// of file, and with `everyRare` every write to a file other than a WAL, those being few and
// the ones that change the database itself (checkpoints, rollback journals, copies).
std::set<qint64> cutPoints(const QStringList& written, int spread, int random, int changes,
                           bool everyRare, quint32 seed)
{
    const qint64 writes = written.size();
    std::set<qint64> points{writes};
    const QList<qint64> around = fileChanges(written);
    const qsizetype n = around.size();
    for (qsizetype i = 0; i < std::min<qsizetype>(n, changes); ++i)
        points.insert(around[n <= changes ? i : i * n / changes]);
    for (qint64 i = 0; everyRare && i < writes; ++i) {
        if (!written[i].endsWith(QStringLiteral("-wal")))
            points.insert(i + 1);
    }
    for (int i = 1; i <= spread; ++i)
        points.insert(std::max<qint64>(1, writes * i / (spread + 1)));
    QRandomGenerator generator(seed);
    for (int i = 0; i < random; ++i)
        points.insert(1 + qint64(generator.bounded(quint64(writes))));
    return points;
}

} // namespace

Q_DECLARE_METATYPE(Work)
Q_DECLARE_METATYPE(CutMode)
Q_DECLARE_METATYPE(RenameCut)

class TestPowerCut : public QObject
{
    Q_OBJECT
private slots:
    void unsyncedWritesAreLost_data();
    void unsyncedWritesAreLost();
    void someUnsyncedWritesLand();
    void connectionsGoThroughTheLayer();
    void cuts_data();
    void cuts();
    void compactionRenames_data();
    void compactionRenames();
};

void TestPowerCut::unsyncedWritesAreLost_data()
{
    QTest::addColumn<CutMode>("mode");
    QTest::addColumn<QByteArray>("expected");
    // Page A synced, then B over it and C after it unsynced: B is lost, C lost or torn.
    QTest::newRow("drop") << CutMode::DropUnsynced << QByteArray(4096, 'A');
    QTest::newRow("torn") << CutMode::TornLastPage << QByteArray(4096, 'A') + QByteArray(2048, 'C');
}

// The layer itself: what a read sees before the cut, what the file holds after it, and that
// nothing gets through once the power is gone.
void TestPowerCut::unsyncedWritesAreLost()
{
    QFETCH(CutMode, mode);
    QFETCH(QByteArray, expected);
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("pages")));
    PowerCutVfs vfs(0, mode);
    sqlite3_vfs* layer = sqlite3_vfs_find(PowerCutVfs::kName);
    QVERIFY(layer);
    QCOMPARE(sqlite3_vfs_find(nullptr), layer);
    std::vector<char> space(std::size_t(layer->szOsFile));
    auto* handle = reinterpret_cast<sqlite3_file*>(space.data());
    int flags = 0;
    QCOMPARE(layer->xOpen(layer, path.constData(), handle,
                          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MAIN_DB, &flags),
             SQLITE_OK);
    const sqlite3_io_methods* io = handle->pMethods;
    const QByteArray a(4096, 'A');
    const QByteArray b(4096, 'B');
    const QByteArray c(4096, 'C');
    QCOMPARE(io->xWrite(handle, a.constData(), 4096, 0), SQLITE_OK);
    QCOMPARE(io->xSync(handle, SQLITE_SYNC_NORMAL), SQLITE_OK);
    QCOMPARE(io->xWrite(handle, b.constData(), 4096, 0), SQLITE_OK);
    QCOMPARE(io->xWrite(handle, c.constData(), 4096, 4096), SQLITE_OK);
    QByteArray read(8192, '\0');
    QCOMPARE(io->xRead(handle, read.data(), 8192, 0), SQLITE_OK);
    QCOMPARE(read, b + c);
    sqlite3_int64 size = 0;
    QCOMPARE(io->xFileSize(handle, &size), SQLITE_OK);
    QCOMPARE(size, sqlite3_int64(8192));
    QCOMPARE(vfs.writes(), qint64(3));

    vfs.cutNow();
    QCOMPARE(io->xRead(handle, read.data(), 4096, 0), SQLITE_IOERR_READ);
    QCOMPARE(io->xWrite(handle, a.constData(), 4096, 0), SQLITE_IOERR_WRITE);
    QCOMPARE(io->xSync(handle, SQLITE_SYNC_NORMAL), SQLITE_IOERR_FSYNC);
    QCOMPARE(io->xClose(handle), SQLITE_OK);

    QFile file(dir.filePath(QStringLiteral("pages")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), expected);
}

// With writes left to chance, each unsynced page is on the file whole or not at all, some are,
// some are not, and what was synced stays.
void TestPowerCut::someUnsyncedWritesLand()
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("pages")));
    PowerCutVfs vfs(0, CutMode::SomeLand);
    sqlite3_vfs* layer = sqlite3_vfs_find(PowerCutVfs::kName);
    std::vector<char> space(std::size_t(layer->szOsFile));
    auto* handle = reinterpret_cast<sqlite3_file*>(space.data());
    int flags = 0;
    QCOMPARE(layer->xOpen(layer, path.constData(), handle,
                          SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_MAIN_DB, &flags),
             SQLITE_OK);
    const sqlite3_io_methods* io = handle->pMethods;
    constexpr int kPages = 64;
    const auto page = [](int i) { return QByteArray(4096, char(i + 1)); };
    QCOMPARE(io->xWrite(handle, page(0).constData(), 4096, 0), SQLITE_OK);
    QCOMPARE(io->xSync(handle, SQLITE_SYNC_NORMAL), SQLITE_OK);
    for (int i = 1; i < kPages; ++i)
        QCOMPARE(io->xWrite(handle, page(i).constData(), 4096, qint64(i) * 4096), SQLITE_OK);
    vfs.cutNow();
    QCOMPARE(vfs.droppedAtCut(), qint64(kPages - 1));
    QCOMPARE(io->xClose(handle), SQLITE_OK);

    QFile file(dir.filePath(QStringLiteral("pages")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.left(4096), page(0));
    int landed = 0;
    for (int i = 1; i < kPages; ++i) {
        const QByteArray onFile = bytes.mid(qsizetype(i) * 4096, 4096);
        if (onFile == page(i))
            ++landed;
        else
            QVERIFY2(onFile.isEmpty() || onFile == QByteArray(4096, '\0'),
                     qPrintable(QStringLiteral("page %1 is neither there nor absent").arg(i)));
    }
    QVERIFY(landed > 0);
    QVERIFY(landed < kPages - 1);
}

// Qt's connections and the program's own sqlite3 ones open, read and write through the layer.
void TestPowerCut::connectionsGoThroughTheLayer()
{
    Rig rig(Work::Recording);
    Outcome outcome;
    QVERIFY(rig.prepare(&outcome));
    PowerCutVfs vfs;
    {
        DatabaseWriter writer(rig.folder());
        QSignalSpy inserted(&writer, &DatabaseWriter::inserted);
        writer.insert(readingNumber(0));
        QVERIFY(inserted.wait(kToolTimeoutMs));
    }
    QVERIFY(vfs.writes() > 0);
    const QStringList opened = vfs.openedFiles();
    QVERIFY2(opened.contains(rig.file()), qPrintable(opened.join(QLatin1Char(' '))));
    QVERIFY(opened.contains(rig.file() + QStringLiteral("-wal")));

    ExportRequest request;
    request.path = QDir(rig.folder()).filePath(QStringLiteral("out.csv"));
    request.headings = {QStringLiteral("V"), QStringLiteral("A"), QStringLiteral("W"),
                        QStringLiteral("E"), QStringLiteral("Data")};
    QVERIFY(exportEnergy(rig.file(), request).ok());
    QCOMPARE(vfs.openedFiles().count(rig.file()), opened.count(rig.file()) + 1);
    QCOMPARE(vfs.openHandles(), 0);
}

void TestPowerCut::cuts_data()
{
    QTest::addColumn<Work>("work");
    QTest::addColumn<CutMode>("mode");
    const std::pair<const char*, Work> works[] = {{"recording", Work::Recording},
                                                  {"summary build", Work::SummaryBuild},
                                                  {"clearing", Work::Clearing},
                                                  {"compaction", Work::Compaction}};
    for (const auto& [name, work] : works) {
        QTest::addRow("%s, unsynced writes dropped", name) << work << CutMode::DropUnsynced;
        QTest::addRow("%s, last page torn", name) << work << CutMode::TornLastPage;
        QTest::addRow("%s, some unsynced writes land", name) << work << CutMode::SomeLand;
    }
}

void TestPowerCut::cuts()
{
    QFETCH(Work, work);
    QFETCH(CutMode, mode);

    Outcome uncut;
    const QStringList uncutFaults = cutOnce(work, 0, mode, RenameCut::None, &uncut);
    QVERIFY2(uncutFaults.isEmpty(), qPrintable(uncutFaults.join(QLatin1Char('\n'))));
    QVERIFY(!uncut.cut);
    QCOMPARE(uncut.committed, uncut.posted);
    QVERIFY(uncut.writes > 0);

    const std::set<qint64> points = longRun() ? cutPoints(uncut.written, 50, 25, 60, true, 20261211)
                                              : cutPoints(uncut.written, 4, 2, 3, false, 20261211);
    QStringList faults;
    for (const qint64 point : points) {
        Outcome outcome;
        faults << cutOnce(work, point, mode, RenameCut::None, &outcome);
        if (!outcome.cut)
            faults << QStringLiteral("cut at write %1: the power never went (%2 writes)")
                          .arg(point)
                          .arg(outcome.writes);
    }
    QStringList perFile;
    QMap<QString, int> byFile;
    for (const QString& name : uncut.written)
        ++byFile[name];
    for (auto it = byFile.cbegin(); it != byFile.cend(); ++it)
        perFile << QStringLiteral("%1 %2").arg(it.key()).arg(it.value());
    qInfo("%d writes uncut (%s), %d writes at a change of file, %d cut points", int(uncut.writes),
          qPrintable(perFile.join(QStringLiteral(", "))), int(fileChanges(uncut.written).size()),
          int(points.size()));
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

void TestPowerCut::compactionRenames_data()
{
    QTest::addColumn<RenameCut>("renameCut");
    QTest::addColumn<CutMode>("mode");
    QTest::newRow("rename lost") << RenameCut::RenameLost << CutMode::DropUnsynced;
    QTest::newRow("after the rename") << RenameCut::AfterRename << CutMode::DropUnsynced;
    QTest::newRow("after the rename, torn") << RenameCut::AfterRename << CutMode::TornLastPage;
    QTest::newRow("after the rename, some land") << RenameCut::AfterRename << CutMode::SomeLand;
}

// The renames and the link of a compaction pass by the layer: the power goes as the compacted
// copy takes the name, and the rename is lost with it or not; what was not synced is lost.
// The next compaction must complete on what is left (a temp.mdb, a DbEnergy.bak).
void TestPowerCut::compactionRenames()
{
    QFETCH(RenameCut, renameCut);
    QFETCH(CutMode, mode);
    Outcome outcome;
    const auto compactAgain = [](const QString& folder) {
        QStringList faults;
        for (const QString& command : {QStringLiteral("compact"), QStringLiteral("check")}) {
            const ToolRun run =
                runTool(QStringLiteral(POWERLOG_CLI), {QStringLiteral("--folder"), folder, command},
                        toolEnvironment());
            if (run.exitCode != 0)
                faults << QStringLiteral("then powerlog-cli %1: %2 %3")
                              .arg(command, run.out.simplified(), run.err.simplified());
        }
        return faults;
    };
    const QStringList faults =
        cutOnce(Work::Compaction, 0, mode, renameCut, &outcome, compactAgain);
    QVERIFY(outcome.cut);
    qInfo("%d unsynced writes lost at the rename", int(outcome.dropped));
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestPowerCut)
#include "test_powercut.moc"
