#include "ui/about/aboutwindow.h"

#include "app/desktop.h"
#include "app/language.h"
#include "app/maker.h"
#include "ui/common/artwork.h"
#include "ui/common/placement.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QUrlQuery>
#include <array>

namespace powerlog {

namespace {

constexpr int kBottomMarginPixels = 420 / 15;

// Italian for "ita"; English for every other code.
int aboutColumn(const QString& code)
{
    return languageColumn(code).value_or(kEnglish);
}

QPixmap donationPicture()
{
    QPixmap pixmap(72, 24);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(255, 196, 57));
    painter.setPen(QPen(QColor(200, 140, 20), 1));
    painter.drawRoundedRect(QRectF(0.5, 0.5, 71, 23), 11, 11);
    painter.setPen(QColor(20, 50, 120));
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("\u2665 Donate"));
    return pixmap;
}

QLabel* linkLabel(const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setCursor(Qt::PointingHandCursor);
    label->setStyleSheet(QStringLiteral("color: #1a5fb4; text-decoration: underline;"));
    return label;
}

} // namespace

AboutWindow::AboutWindow(const QString& languageCode, const QString& versionText, Desktop& desktop,
                         QWidget* parent, MakerAddresses addresses)
    : QDialog(parent), m_versionText(versionText), m_addresses(std::move(addresses)),
      m_desktop(desktop)
{
    setObjectName(QStringLiteral("frmAbout"));
    new BottomRightPlacer(*this, kBottomMarginPixels);
    setWindowTitle(QStringLiteral("About Powerlog"));

    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("Image1"));
    logo->setPixmap(appIcon().pixmap(64, 64));
    logo->setAlignment(Qt::AlignTop);

    m_versionLabel = new QLabel(this);
    m_versionLabel->setObjectName(QStringLiteral("lblVersion"));
    QFont bold = m_versionLabel->font();
    bold.setBold(true);
    m_versionLabel->setFont(bold);

    m_descriptionLabel = new QLabel(this);
    m_descriptionLabel->setObjectName(QStringLiteral("lblDescription"));
    m_descriptionLabel->setWordWrap(true);
    m_descriptionLabel->setTextFormat(Qt::PlainText);
    m_descriptionLabel->setMinimumWidth(340);

    m_donationLink = linkLabel(QStringLiteral("Llink"), this);
    m_bugReportLink = linkLabel(QStringLiteral("Llink2"), this);
    m_bugReportLink->setText(QStringLiteral("Report a bug"));
    m_donationPicture = new QLabel(this);
    m_donationPicture->setObjectName(QStringLiteral("Ipaypal"));
    m_donationPicture->setPixmap(donationPicture());
    m_donationPicture->setCursor(Qt::PointingHandCursor);
    for (QLabel* clickable : {m_donationLink, m_bugReportLink, m_donationPicture})
        clickable->installEventFilter(this);
    // A build without the maker's addresses offers no link that would lead nowhere.
    m_donationLink->setVisible(!m_addresses.donationPage.isEmpty());
    m_donationPicture->setVisible(!m_addresses.donationPage.isEmpty());
    m_bugReportLink->setVisible(!m_addresses.bugReportAddress.isEmpty());

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &AboutWindow::close);

    auto* grid = new QGridLayout(this);
    grid->addWidget(logo, 0, 0, 3, 1);
    grid->addWidget(m_versionLabel, 0, 1, 1, 3);
    grid->addWidget(m_descriptionLabel, 1, 1, 1, 3);
    grid->addWidget(m_donationPicture, 2, 1);
    grid->addWidget(m_donationLink, 2, 2);
    grid->addWidget(m_bugReportLink, 2, 3, Qt::AlignRight);
    grid->addWidget(ok, 3, 3, Qt::AlignRight);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    showTexts(languageCode);
}

QString AboutWindow::descriptionText(const QString& languageCode)
{
    const int column = aboutColumn(languageCode);
    return textIn(Text::AboutFirstSentence, column) + kCrLf +
           textIn(Text::AboutSecondSentence, column) + kCrLf + kCrLf +
           textIn(Text::AboutAuthorCredit, column) + kCrLf +
           textIn(Text::AboutModuleCredit, column) + kCrLf;
}

void AboutWindow::showTexts(const QString& languageCode)
{
    m_versionLabel->setText(QStringLiteral("Ver. ") + m_versionText);
    QString description = descriptionText(languageCode);
    m_descriptionLabel->setText(description.replace(kCrLf, QStringLiteral("\n")).trimmed());
    m_donationLink->setText(textIn(Text::AboutDonate, aboutColumn(languageCode)));
    adjustSize();
    placeBottomRight();
}

void AboutWindow::placeBottomRight()
{
    powerlog::placeBottomRight(*this, kBottomMarginPixels);
}

QUrl AboutWindow::bugReportUrl() const
{
    if (m_addresses.bugReportAddress.isEmpty())
        return {};
    QUrl url(QStringLiteral("mailto:") + m_addresses.bugReportAddress);
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("subject"),
                       QStringLiteral("Powerlog ") + m_versionText + QStringLiteral(" bug-report"));
    url.setQuery(query);
    return url;
}

void AboutWindow::openDonationPage()
{
    if (!m_addresses.donationPage.isEmpty())
        m_desktop.open(QUrl(m_addresses.donationPage));
}

void AboutWindow::writeBugReport()
{
    if (!m_addresses.bugReportAddress.isEmpty())
        m_desktop.open(bugReportUrl());
}

bool AboutWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (m_clicks.isClick(watched, event)) {
        // The donation picture leads where its link does.
        if (watched == m_donationLink || watched == m_donationPicture)
            openDonationPage();
        else if (watched == m_bugReportLink)
            writeBugReport();
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace powerlog
