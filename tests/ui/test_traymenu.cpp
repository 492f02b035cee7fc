#include "ui/options/optionswindow.h"
#include "windowharness.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace powerlog;
using powerlog::test::RecordingPrompts;
using powerlog::test::WindowHarness;

namespace {

// Serves one fixed version file over HTTP on 127.0.0.1, to every request.
class VersionFileServer : public QTcpServer
{
public:
    explicit VersionFileServer(QByteArray body) : m_body(std::move(body))
    {
        listen(QHostAddress::LocalHost, 0);
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->readAll().contains("\r\n\r\n"))
                        return;
                    socket->write(
                        "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                        QByteArray::number(m_body.size()) + "\r\nConnection: close\r\n\r\n" +
                        m_body);
                    socket->disconnectFromHost();
                });
            }
        });
    }
    QUrl url() const
    {
        return QUrl(QStringLiteral("http://127.0.0.1:%1/version.txt").arg(serverPort()));
    }

private:
    QByteArray m_body;
};

bool hasBalloon(const powerlog::test::RecordingTray& tray)
{
    return std::any_of(tray.calls.begin(), tray.calls.end(),
                       [](const auto& call) { return call.op == QStringLiteral("balloon"); });
}

QList<int> ids(const QList<TrayMenuEntry>& entries)
{
    QList<int> list;
    for (const TrayMenuEntry& entry : entries)
        list << entry.id;
    return list;
}

} // namespace

class TestTrayMenu : public QObject
{
    Q_OBJECT
private slots:
    void entriesPerLanguage_data();
    void entriesPerLanguage();
    void refreshIsGreyedUnderTheStInterface();
    void languageChangeRenamesTheMenu();
    void openBringsTheHiddenWindowBack();
    void refreshAsksForAReading();
    void aboutOpensWithoutBlocking();
    void optionsOpenWithoutBlocking();
    void helpOpensTheManualOrSaysWhereItLooked();
    void exitEndsTheProgram();
    void noChoiceDoesNothing();
    void newerVersionIsAnnouncedAndOffered();
    void currentVersionShowsNothing();
    void clickOnTheIconWhileTheAnnouncementShowsOpensNoPage();
    void clickBalloonFollowsTheLanguage();
    void refreshFollowsTheInterfaceAtOnce();
    void helpWithoutAViewerSaysWhereTheManualIs();
};

void TestTrayMenu::entriesPerLanguage_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("ita") << QStringLiteral("ita")
                         << QStringList{"Apri Energy", "Aggiorna letture", "Opzioni",
                                        "-",           "About..",          "Help",
                                        "Esci"};
    QTest::newRow("eng") << QStringLiteral("eng")
                         << QStringList{"Open Energy", "Refresh data", "Options", "-",
                                        "About..",     "Help",         "Exit"};
}

void TestTrayMenu::entriesPerLanguage()
{
    QFETCH(QString, language);
    QFETCH(QStringList, texts);
    WindowHarness h({{QStringLiteral("Option/Language"), language}});
    h.load();
    QCOMPARE(h.tray.menuTexts(), texts);
    QCOMPARE(ids(h.tray.menu), QList<int>({1, 2, 3, 4, 5, 6, 7}));
    QVERIFY(h.tray.menu[0].isDefault);
    for (int i = 1; i < h.tray.menu.size(); ++i)
        QVERIFY(!h.tray.menu[i].isDefault);
    QVERIFY(h.tray.menu[1].enabled);
}

void TestTrayMenu::refreshIsGreyedUnderTheStInterface()
{
    WindowHarness h({{QStringLiteral("Option/Interface"), QStringLiteral("1")}});
    h.load();
    QVERIFY(h.station.isStInterface());
    QVERIFY(!h.tray.menu[1].enabled);
    // Even a menu shown before the change cannot send the request.
    h.simulator.clearReceivedFrames();
    h.chooseTrayMenu(2);
    QTest::qWait(100);
    QVERIFY(!h.simulator.receivedFrames().contains(QStringLiteral("*#3*10*0##")));
}

void TestTrayMenu::languageChangeRenamesTheMenu()
{
    WindowHarness h;
    MainWindow& w = h.load();
    QCOMPARE(h.tray.menu.last().text, QStringLiteral("Esci"));
    w.setLanguage(QStringLiteral("eng"));
    QCOMPARE(h.tray.menu.last().text, QStringLiteral("Exit"));
}

void TestTrayMenu::openBringsTheHiddenWindowBack()
{
    WindowHarness h;
    MainWindow& w = h.load();
    w.showMinimized();
    w.hide();
    QVERIFY(!w.isVisible());
    emit h.tray.menuChosen(1);
    QVERIFY(w.isVisible());
    QVERIFY(!w.isMinimized());
}

void TestTrayMenu::refreshAsksForAReading()
{
    WindowHarness h;
    h.simulator.setReading("231", "4", "925", "1500.5");
    MainWindow& w = h.load();
    emit h.tray.menuChosen(2);
    QTRY_VERIFY_WITH_TIMEOUT(h.simulator.receivedFrames().contains(QStringLiteral("*#3*10*0##")),
                             10000);
    // The reading that answers shows its balloon, as after the first reading of a run.
    QTRY_VERIFY_WITH_TIMEOUT(hasBalloon(h.tray), 10000);
    Q_UNUSED(w);
}

void TestTrayMenu::aboutOpensWithoutBlocking()
{
    WindowHarness h;
    MainWindow& w = h.load();
    emit h.tray.menuChosen(5);
    auto* about = w.findChild<QDialog*>();
    QVERIFY(about);
    QVERIFY(about->isVisible());
    QCOMPARE(about->windowModality(), Qt::NonModal);
}

void TestTrayMenu::optionsOpenWithoutBlocking()
{
    WindowHarness h;
    MainWindow& w = h.load();
    emit h.tray.menuChosen(3);
    QVERIFY(w.optionsWindow());
    QVERIFY(w.optionsWindow()->isVisible());
    QCOMPARE(w.optionsWindow()->windowModality(), Qt::NonModal);
    // The options button opens the same window, modal.
    h.click("ImTool");
    QCOMPARE(w.optionsWindow()->windowModality(), Qt::ApplicationModal);
}

void TestTrayMenu::helpOpensTheManualOrSaysWhereItLooked()
{
    WindowHarness h({{QStringLiteral("Option/Language"), QStringLiteral("eng")}});
    MainWindow& w = h.load();
    const QString manual = QDir(h.dir.path()).filePath(QStringLiteral("Powerlog.pdf"));
    const bool besideTest = QFile::exists(
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Powerlog.pdf")));
    if (!besideTest) {
        emit h.tray.menuChosen(6);
        QCOMPARE(h.prompts.shown.size(), 1);
        QCOMPARE(h.prompts.shown[0].icon, RecordingPrompts::Icon::Exclamation);
        QCOMPARE(h.prompts.shown[0].text,
                 QStringLiteral("User manual not found: ") + QDir::toNativeSeparators(manual));
        QVERIFY(h.desktop.opened.isEmpty());
    }

    QFile file(manual);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4\n");
    file.close();
    emit h.tray.menuChosen(6);
    QCOMPARE(h.desktop.opened.size(), 1);
    QCOMPARE(h.desktop.opened[0], QUrl::fromLocalFile(manual));
    Q_UNUSED(w);
}

void TestTrayMenu::exitEndsTheProgram()
{
    WindowHarness h;
    h.load();
    QSignalSpy closed(&h.station, &Station::shutDown);
    emit h.tray.menuChosen(7); // works on a hidden window too
    QCOMPARE(closed.size(), 1);
    QCOMPARE(h.tray.calls.last().op, QStringLiteral("delete"));
}

void TestTrayMenu::noChoiceDoesNothing()
{
    WindowHarness h;
    h.load();
    QSignalSpy closed(&h.station, &Station::shutDown);
    const int calls = h.tray.calls.size();
    for (int id : {0, 4, 8, 9, 10, 99})
        h.chooseTrayMenu(id);
    QCOMPARE(closed.size(), 0);
    QCOMPARE(h.tray.calls.size(), calls);
    QVERIFY(h.desktop.opened.isEmpty());
}

void TestTrayMenu::newerVersionIsAnnouncedAndOffered()
{
    VersionFileServer server("99.0.1,https://downloads.example.org/powerlog\r\n");
    WindowHarness h({{QStringLiteral("Option/Language"), QStringLiteral("eng")}});
    h.updateUrl = server.url();
    h.load();
    QTRY_VERIFY_WITH_TIMEOUT(h.presenter->isUpdateAvailable(), 15000);
    const auto balloon = std::find_if(h.tray.calls.begin(), h.tray.calls.end(), [](const auto& c) {
        return c.op == QStringLiteral("balloon");
    });
    QVERIFY(balloon != h.tray.calls.end());
    QCOMPARE(balloon->title, QStringLiteral("Powerlog"));
    QCOMPARE(balloon->text, QStringLiteral("Update available : 99.0.1\r\nCurrent version ") +
                                versionText() +
                                QStringLiteral(" --> Server version 99.0.1\r\n"
                                               "Download the new version "
                                               "https://downloads.example.org/powerlog"));

    QCOMPARE(h.tray.menuTexts(),
             QStringList({"Open Energy", "Refresh data", "Options", "-", "About..", "Help", "-",
                          "Download the new version", "-", "Exit"}));
    QCOMPARE(ids(h.tray.menu), QList<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

    const QUrl page(QStringLiteral("https://downloads.example.org/powerlog"));
    emit h.tray.balloonClicked(); // the announcement is on screen: it opens the page
    QCOMPARE(h.desktop.opened, QList<QUrl>{page});
    emit h.tray.balloonClicked(); // once only
    QCOMPARE(h.desktop.opened.size(), 1);
    emit h.tray.menuChosen(8);
    QCOMPARE(h.desktop.opened, QList<QUrl>({page, page}));
    QSignalSpy closed(&h.station, &Station::shutDown);
    emit h.tray.menuChosen(7); // a separator now
    QCOMPARE(closed.size(), 0);
    emit h.tray.menuChosen(10);
    QCOMPARE(closed.size(), 1);
}

// Some notification hosts report a click on the icon as a click on the balloon it shows: only
// the announcement's own balloon leads to the download page, not the detail a click shows.
void TestTrayMenu::clickOnTheIconWhileTheAnnouncementShowsOpensNoPage()
{
    VersionFileServer server("99.0.1,https://downloads.example.org/powerlog\r\n");
    WindowHarness h;
    h.updateUrl = server.url();
    h.updateDelayMs = 0;
    h.load();
    QTRY_VERIFY_WITH_TIMEOUT(h.presenter->isUpdateAvailable(), 15000);
    emit h.tray.leftClicked();
    emit h.tray.balloonClicked();
    QVERIFY(h.desktop.opened.isEmpty());
}

// The balloon a click shows speaks the language in force, not the one of the last reading.
void TestTrayMenu::clickBalloonFollowsTheLanguage()
{
    WindowHarness h;
    MainWindow& w = h.load();
    h.receive(QStringLiteral("*#3*10*0*230*2*460*1234##"));
    w.setLanguage(QStringLiteral("eng"));
    emit h.tray.leftClicked();
    QCOMPARE(h.tray.calls.last().op, QStringLiteral("balloon"));
    QCOMPARE(h.tray.calls.last().text,
             QStringLiteral("Tension 230V - Current 2A\r\nPower 460W - Energy 1234\r\n"
                            "Max Power 460W - Mid Power 460W\r\n\r\n"
                            "Right click to open the men\u00f9"));
}

// "Refresh data" follows the interface as soon as it changes, from whichever window.
void TestTrayMenu::refreshFollowsTheInterfaceAtOnce()
{
    WindowHarness h;
    MainWindow& w = h.load();
    emit h.tray.menuChosen(3); // the options window, not modal
    QVERIFY(w.optionsWindow());
    QVERIFY(h.tray.menu[1].enabled);
    QVERIFY(h.settings.set(Setting::StInterface, true));
    QVERIFY(!h.tray.menu[1].enabled);
    QVERIFY(w.optionsWindow()->isVisible());
    QVERIFY(h.settings.set(Setting::StInterface, false));
    QVERIFY(h.tray.menu[1].enabled);
}

// With no program for PDF files, Help says so and where the manual is.
void TestTrayMenu::helpWithoutAViewerSaysWhereTheManualIs()
{
    WindowHarness h({{QStringLiteral("Option/Language"), QStringLiteral("eng")}});
    h.load();
    const QString manual = QDir(h.dir.path()).filePath(QStringLiteral("Powerlog.pdf"));
    QFile file(manual);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("%PDF-1.4\n");
    file.close();
    h.desktop.result = false;
    emit h.tray.menuChosen(6);
    QCOMPARE(h.desktop.opened.size(), 1);
    QCOMPARE(h.prompts.shown.size(), 1);
    QCOMPARE(h.prompts.shown[0].text, QStringLiteral("No program opened the user manual: ") +
                                          QDir::toNativeSeparators(manual));
}

void TestTrayMenu::currentVersionShowsNothing()
{
    WindowHarness h;
    VersionFileServer server(versionText().toLatin1() + ",https://example.org/");
    h.updateUrl = server.url();
    h.updateDelayMs = 0;
    h.load();
    QSignalSpy checked(h.presenter.get(), &TrayPresenter::updateChecked);
    QTRY_COMPARE(checked.size(), 1);
    QCOMPARE(checked.first().first().value<UpdateOutcome>(), UpdateOutcome::Current);
    QVERIFY(!h.presenter->isUpdateAvailable());
    QVERIFY(!hasBalloon(h.tray));
    QCOMPARE(h.tray.menu.size(), 7);
}

QTEST_MAIN(TestTrayMenu)
#include "test_traymenu.moc"
