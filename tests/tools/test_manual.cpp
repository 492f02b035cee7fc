// The user manual built beside the program, and powerlog-manual run as the build runs it: a
// process of its own on files in a folder of the test's own.

#include "support/toolrun.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using powerlog::test::ToolRun;

namespace {

// powerlog-manual in the test's own environment, as the build runs it.
ToolRun runManual(const QStringList& arguments,
                  const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    return powerlog::test::runTool(QStringLiteral(POWERLOG_MANUAL_TOOL), arguments, environment);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Page objects only: the page tree is "/Type /Pages".
int pageCount(const QByteArray& pdf)
{
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![A-Za-z])"));
    int pages = 0;
    for (auto it = page.globalMatch(QString::fromLatin1(pdf)); it.hasNext(); it.next())
        ++pages;
    return pages;
}

// The document title as a PDF text string, in either of the encodings a writer may choose.
bool hasTitle(const QByteArray& pdf, const QString& title)
{
    QByteArray utf16 = QByteArrayLiteral("\xFE\xFF");
    for (const QChar c : title)
        utf16 += QByteArray(1, char(c.unicode() >> 8)) + QByteArray(1, char(c.unicode() & 0xff));
    return pdf.contains("/Title (" + title.toLatin1() + ')') ||
           pdf.contains("/Title (" + utf16 + ')');
}

// The names in a folder, with each file's content.
QMap<QString, QByteArray> folderContents(const QString& folder)
{
    QMap<QString, QByteArray> contents;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
        contents.insert(name, readAll(dir.filePath(name)));
    return contents;
}

QByteArray paragraphs(int count)
{
    QByteArray markdown = "# Powerlog\n\n";
    for (int i = 1; i <= count; ++i)
        markdown += "Paragraph " + QByteArray::number(i) +
                    ": the readings, the charts and the database, told once more.\n\n";
    return markdown;
}

} // namespace

class TestManual : public QObject
{
    Q_OBJECT

private slots:
    void builtManual();
    void rendersMarkdown_data();
    void rendersMarkdown();
    void runsWithoutDisplay();
    void failsWithoutWriting_data();
    void failsWithoutWriting();
};

void TestManual::builtManual()
{
    const QByteArray pdf = readAll(QStringLiteral(POWERLOG_MANUAL_PDF));
    QVERIFY2(!pdf.isEmpty(), "Powerlog.pdf is missing beside the program");
    QVERIFY(pdf.startsWith("%PDF-"));
    QVERIFY(pdf.trimmed().endsWith("%%EOF"));
    QVERIFY2(pageCount(pdf) > 2, qPrintable(QString::number(pageCount(pdf))));
    QVERIFY(hasTitle(pdf, QStringLiteral("Powerlog")));
}

void TestManual::rendersMarkdown_data()
{
    QTest::addColumn<QByteArray>("markdown");
    QTest::addColumn<int>("fewestPages");
    QTest::addColumn<int>("mostPages");

    QTest::newRow("a heading and a line") << QByteArray("# Powerlog\n\nOne line.\n") << 1 << 1;
    QTest::newRow("tables, code and accents")
        << QByteArray("# Powerlog: manuale d'uso\n\n## Opzioni\n\n"
                      "| opzione | significato |\n| --- | --- |\n| **Porta WS** | 20000 |\n\n"
                      "```sh\npowerlog --demo\n```\n\nPiù avanti: menù, perché.\n")
        << 1 << 1;
    QTest::newRow("long enough for several pages") << paragraphs(300) << 3 << 100;
    QTest::newRow("two parts, each on its own page")
        << QByteArray("# Powerlog user manual\n\nText.\n\n# Powerlog: manuale d'uso\n\nTesto.\n")
        << 2 << 2;
    QTest::newRow("empty") << QByteArray() << 1 << 1;
}

void TestManual::rendersMarkdown()
{
    QFETCH(QByteArray, markdown);
    QFETCH(int, fewestPages);
    QFETCH(int, mostPages);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString input = folder.filePath(QStringLiteral("manual.md"));
    const QString output = folder.filePath(QStringLiteral("Powerlog.pdf"));
    QVERIFY(writeFile(input, markdown));

    const ToolRun run = runManual({input, output});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const QByteArray pdf = readAll(output);
    QVERIFY(pdf.startsWith("%PDF-"));
    const int pages = pageCount(pdf);
    QVERIFY2(pages >= fewestPages && pages <= mostPages, qPrintable(QString::number(pages)));
    // Written through a temporary file that is renamed at the end: nothing else is left.
    QCOMPARE(folderContents(folder.path()).keys(),
             QStringList({QStringLiteral("Powerlog.pdf"), QStringLiteral("manual.md")}));
}

// A build machine has no display, and the build does not tell the tool so.
void TestManual::runsWithoutDisplay()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString input = folder.filePath(QStringLiteral("manual.md"));
    const QString output = folder.filePath(QStringLiteral("Powerlog.pdf"));
    QVERIFY(writeFile(input, "# Powerlog\n\nHeadless.\n"));

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    const ToolRun run = runManual({input, output}, environment);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY(readAll(output).startsWith("%PDF-"));
}

void TestManual::failsWithoutWriting_data()
{
    QTest::addColumn<QStringList>("arguments"); // relative to the test's folder
    QTest::addColumn<bool>("earlierManual");    // a Powerlog.pdf is there before the run

    const QString input = QStringLiteral("manual.md");
    const QString output = QStringLiteral("Powerlog.pdf");
    QTest::newRow("missing input") << QStringList{QStringLiteral("missing.md"), output} << false;
    QTest::newRow("missing input, an earlier manual is kept")
        << QStringList{QStringLiteral("missing.md"), output} << true;
    QTest::newRow("input is a folder") << QStringList{QStringLiteral("."), output} << false;
    QTest::newRow("output in a missing folder")
        << QStringList{input, QStringLiteral("missing/Powerlog.pdf")} << false;
    QTest::newRow("no arguments") << QStringList{} << false;
    QTest::newRow("input only") << QStringList{input} << true;
    QTest::newRow("one argument too many") << QStringList{input, output, output} << true;
}

void TestManual::failsWithoutWriting()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, earlierManual);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(writeFile(folder.filePath(QStringLiteral("manual.md")), "# Powerlog\n\nText.\n"));
    if (earlierManual)
        QVERIFY(writeFile(folder.filePath(QStringLiteral("Powerlog.pdf")), "an earlier manual"));
    const QMap<QString, QByteArray> before = folderContents(folder.path());
    for (QString& argument : arguments)
        argument = folder.filePath(argument);

    const ToolRun run = runManual(arguments);
    QVERIFY2(run.exitCode > 0, qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("powerlog-manual: ")), qPrintable(run.err));
    QCOMPARE(folderContents(folder.path()), before);
}

QTEST_GUILESS_MAIN(TestManual)
#include "test_manual.moc"
