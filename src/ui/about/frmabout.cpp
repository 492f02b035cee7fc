#include "ui/about/frmabout.h"

#include "app/desktop.h"
#include "app/language.h"
#include "app/maker.h"
#include "ui/main/artwork.h"
#include "ui/main/placement.h"

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

FrmAbout::FrmAbout(const QString& languageCode, const QString& versionText, Desktop& desktop,
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

    auto* version = new QLabel(this);
    version->setObjectName(QStringLiteral("lblVersion"));
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);

    auto* description = new QLabel(this);
    description->setObjectName(QStringLiteral("lblDescription"));
    description->setWordWrap(true);
    description->setTextFormat(Qt::PlainText);
    description->setMinimumWidth(340);

    m_donate = linkLabel(QStringLiteral("Llink"), this);
    m_report = linkLabel(QStringLiteral("Llink2"), this);
    m_report->setText(QStringLiteral("Report a bug"));
    m_paypal = new QLabel(this);
    m_paypal->setObjectName(QStringLiteral("Ipaypal"));
    m_paypal->setPixmap(donationPicture());
    m_paypal->setCursor(Qt::PointingHandCursor);
    for (QLabel* clickable : {m_donate, m_report, m_paypal})
        clickable->installEventFilter(this);
    // A build without the maker's addresses offers no link that would lead nowhere.
    m_donate->setVisible(!m_addresses.donationPage.isEmpty());
    m_paypal->setVisible(!m_addresses.donationPage.isEmpty());
    m_report->setVisible(!m_addresses.bugReportAddress.isEmpty());

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("cmdOK"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &FrmAbout::cmdOK_Click);

    auto* grid = new QGridLayout(this);
    grid->addWidget(logo, 0, 0, 3, 1);
    grid->addWidget(version, 0, 1, 1, 3);
    grid->addWidget(description, 1, 1, 1, 3);
    grid->addWidget(m_paypal, 2, 1);
    grid->addWidget(m_donate, 2, 2);
    grid->addWidget(m_report, 2, 3, Qt::AlignRight);
    grid->addWidget(ok, 3, 3, Qt::AlignRight);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    Form_Load(languageCode);
}

QString FrmAbout::descriptionText(const QString& languageCode)
{
    const int column = aboutColumn(languageCode);
    return textIn(Text::AboutFirstSentence, column) + kCrLf +
           textIn(Text::AboutSecondSentence, column) + kCrLf + kCrLf +
           textIn(Text::AboutAuthorCredit, column) + kCrLf +
           textIn(Text::AboutModuleCredit, column) + kCrLf;
}

void FrmAbout::Form_Load(const QString& languageCode)
{
    findChild<QLabel*>(QStringLiteral("lblVersion"))
        ->setText(QStringLiteral("Ver. ") + m_versionText);
    QString description = descriptionText(languageCode);
    findChild<QLabel*>(QStringLiteral("lblDescription"))
        ->setText(description.replace(kCrLf, QStringLiteral("\n")).trimmed());
    m_donate->setText(textIn(Text::AboutDonate, aboutColumn(languageCode)));
    adjustSize();
    placeBottomRight();
}

void FrmAbout::placeBottomRight()
{
    powerlog::placeBottomRight(*this, kBottomMarginPixels);
}

QUrl FrmAbout::bugReportUrl() const
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

void FrmAbout::Llink_Click()
{
    if (!m_addresses.donationPage.isEmpty())
        m_desktop.open(QUrl(m_addresses.donationPage));
}

void FrmAbout::Ipaypal_Click()
{
    Llink_Click();
}

void FrmAbout::Llink2_Click()
{
    if (!m_addresses.bugReportAddress.isEmpty())
        m_desktop.open(bugReportUrl());
}

void FrmAbout::cmdOK_Click()
{
    close();
}

bool FrmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (m_clicks.isClick(watched, event)) {
        if (watched == m_donate)
            Llink_Click();
        else if (watched == m_paypal)
            Ipaypal_Click();
        else if (watched == m_report)
            Llink2_Click();
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace powerlog
