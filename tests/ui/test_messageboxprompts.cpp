#include "ui/common/platform.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <optional>

using powerlog::MessageBoxPrompts;
using Icon = powerlog::Prompts::Icon;

namespace {

QList<QMessageBox*> boxes(bool visibleOnly)
{
    QList<QMessageBox*> found;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box && (!visibleOnly || box->isVisible()))
            found << box;
    }
    return found;
}

QList<QMessageBox*> visibleBoxes()
{
    return boxes(true);
}

// Every box, shown or closed but not yet deleted.
int boxesAlive()
{
    return boxes(false).size();
}

QMessageBox* visibleBoxWithText(const QString& text)
{
    for (QMessageBox* box : visibleBoxes()) {
        if (box->text().startsWith(text))
            return box;
    }
    return nullptr;
}

QString countLine(int count)
{
    return QStringLiteral("(%1%2)").arg(QChar(0x00D7)).arg(count);
}

} // namespace

class TestMessageBoxPrompts : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void repeatedMessageShowsOneBoxWithItsCount();
    void differentMessagesOpenTheirOwnBoxes_data();
    void differentMessagesOpenTheirOwnBoxes();
    void closedBoxLetsTheNextOneOpen();
    void questionAnswersThroughItsCallback_data();
    void questionAnswersThroughItsCallback();
    void questionAskedFromAnAnswerIsShown();

private:
    MessageBoxPrompts m_prompts;
};

void TestMessageBoxPrompts::cleanup()
{
    for (QMessageBox* box : boxes(false))
        delete box;
}

void TestMessageBoxPrompts::repeatedMessageShowsOneBoxWithItsCount()
{
    const QString text = QStringLiteral("File not found: DbEnergy.mdb");
    for (int i = 0; i < 1000; ++i)
        m_prompts.message(QStringLiteral("Errore connessione DB"), text, Icon::Critical);

    const QList<QMessageBox*> shown = visibleBoxes();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(boxesAlive(), 1);
    QCOMPARE(shown[0]->windowTitle(), QStringLiteral("Errore connessione DB"));
    QCOMPARE(shown[0]->icon(), QMessageBox::Critical);
    QVERIFY(shown[0]->text().startsWith(text));
    QVERIFY2(shown[0]->text().endsWith(countLine(1000)), qPrintable(shown[0]->text()));
}

void TestMessageBoxPrompts::differentMessagesOpenTheirOwnBoxes_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Icon>("icon");
    QTest::addColumn<int>("boxIcon");

    QTest::newRow("other text") << "Powerlog"
                                << "second" << Icon::Critical << int(QMessageBox::Critical);
    QTest::newRow("other title") << "Other"
                                 << "first" << Icon::Critical << int(QMessageBox::Critical);
    QTest::newRow("other icon") << "Powerlog"
                                << "first" << Icon::Information << int(QMessageBox::Information);
}

void TestMessageBoxPrompts::differentMessagesOpenTheirOwnBoxes()
{
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(Icon, icon);
    QFETCH(int, boxIcon);
    m_prompts.message(QStringLiteral("Powerlog"), QStringLiteral("first"), Icon::Critical);
    m_prompts.message(QStringLiteral("Powerlog"), QStringLiteral("first"), Icon::Critical);

    m_prompts.message(title, text, icon);

    QStringList shown;
    for (const QMessageBox* box : visibleBoxes())
        shown << QStringLiteral("%1|%2|%3").arg(box->windowTitle(), box->text()).arg(box->icon());
    shown.sort();
    QStringList expected{
        QStringLiteral("Powerlog|first\n%1|%2").arg(countLine(2)).arg(QMessageBox::Critical),
        QStringLiteral("%1|%2|%3").arg(title, text).arg(boxIcon),
    };
    expected.sort();
    QCOMPARE(shown, expected);
}

void TestMessageBoxPrompts::closedBoxLetsTheNextOneOpen()
{
    const QString text = QStringLiteral("no such table: Energy");
    for (int round = 0; round < 20; ++round) {
        m_prompts.message(QString(), text, Icon::Critical);
        m_prompts.message(QString(), text, Icon::Critical);
        QMessageBox* box = visibleBoxWithText(text);
        QVERIFY(box);
        // A new box starts counting again.
        QCOMPARE(box->text(), text + QStringLiteral("\n") + countLine(2));

        box->button(QMessageBox::Ok)->click();

        QVERIFY(visibleBoxes().isEmpty());
        // Closed boxes are deleted: nothing piles up behind the screen.
        QTRY_COMPARE_WITH_TIMEOUT(boxesAlive(), 0, 10000);
    }
}

void TestMessageBoxPrompts::questionAnswersThroughItsCallback_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("yes");
    QTest::newRow("Yes clicked") << "Yes" << true;
    QTest::newRow("No clicked") << "No" << false;
    // Leaving the question without choosing agrees to nothing.
    QTest::newRow("Escape") << "Escape" << false;
    QTest::newRow("window closed") << "close" << false;
}

void TestMessageBoxPrompts::questionAnswersThroughItsCallback()
{
    QFETCH(QString, action);
    QFETCH(bool, yes);
    std::optional<bool> answer;
    int answers = 0;

    m_prompts.askYesNo(QStringLiteral("Powerlog"), QStringLiteral("Clear all data ?"),
                       [&](bool choice) {
                           answer = choice;
                           ++answers;
                       });

    // The call came back while the question is still on screen: no loop ran inside it.
    QVERIFY(!answer);
    const QList<QMessageBox*> shown = visibleBoxes();
    QCOMPARE(shown.size(), 1);
    QMessageBox* box = shown[0];
    QCOMPARE(box->text(), QStringLiteral("Clear all data ?"));
    QCOMPARE(box->icon(), QMessageBox::Question);

    if (action == QLatin1String("Yes"))
        box->button(QMessageBox::Yes)->click();
    else if (action == QLatin1String("No"))
        box->button(QMessageBox::No)->click();
    else if (action == QLatin1String("Escape"))
        QTest::keyClick(box, Qt::Key_Escape);
    else
        box->close();

    QCOMPARE(answer, std::optional<bool>(yes));
    QVERIFY(visibleBoxes().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(boxesAlive(), 0, 10000);
    QCOMPARE(answers, 1);
}

void TestMessageBoxPrompts::questionAskedFromAnAnswerIsShown()
{
    std::optional<bool> second;
    m_prompts.askYesNo(QStringLiteral("Powerlog"), QStringLiteral("First ?"), [&](bool) {
        m_prompts.askYesNo(QStringLiteral("Powerlog"), QStringLiteral("Second ?"),
                           [&](bool yes) { second = yes; });
    });
    QVERIFY(QTest::qWaitForWindowActive(visibleBoxes().value(0), 10000));

    visibleBoxWithText(QStringLiteral("First ?"))->button(QMessageBox::Yes)->click();
    // The first box goes away; the second must not go with it.
    QTRY_COMPARE_WITH_TIMEOUT(boxesAlive(), 1, 10000);

    QMessageBox* box = visibleBoxWithText(QStringLiteral("Second ?"));
    QVERIFY(box);
    QVERIFY(!second);
    box->button(QMessageBox::No)->click();
    QCOMPARE(second, std::optional<bool>(false));
}

QTEST_MAIN(TestMessageBoxPrompts)
#include "test_messageboxprompts.moc"
