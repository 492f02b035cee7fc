#include "ui/options/metersourcegroup.h"

#include "acquisition/meterfinder.h"
#include "app/language.h"
#include "ui/common/controls.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace powerlog {

namespace {

// In the order of the list: the stored values of [Meter] Source.
const QStringList kSources{QStringLiteral("central"), QStringLiteral("meter")};

} // namespace

MeterSourceGroup::MeterSourceGroup(Settings& settings, MeterFinder* finder,
                                   std::function<void(Setting, const QVariant&)> store,
                                   QWidget* parent)
    : QWidget(parent), m_settings(settings), m_finder(finder), m_store(std::move(store))
{
    setObjectName(QStringLiteral("Fsource"));
    m_sourceList = placeControl<QComboBox>(this, QStringLiteral("Csource"), QRect(10, 2, 316, 22));
    m_sourceList->addItems({QString(), QString()});
    m_whereLabel = makeLabel(this, QStringLiteral("Lbwhere"), QRect(10, 28, 132, 22));
    m_whereList = placeControl<QComboBox>(this, QStringLiteral("Cwhere"), QRect(144, 28, 66, 22));
    m_whereList->setEditable(true);
    m_whereList->setInsertPolicy(QComboBox::NoInsert);
    m_whereList->lineEdit()->setMaxLength(4);
    m_whereList->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_whereList));
    // The list holds the focus and hands its events to its field.
    m_whereList->installEventFilter(this);
    m_findButton = placeControl<QPushButton>(this, QStringLiteral("Cfind"), QRect(214, 27, 112, 24));
    m_findButton->setEnabled(m_finder != nullptr);
    m_searchLabel = makeLabel(this, QStringLiteral("Lfind"), QRect(10, 54, 316, 18));

    connect(m_sourceList, &QComboBox::currentIndexChanged, this, &MeterSourceGroup::sourceChosen);
    // A meter chosen from the list applies at once; a typed one when the field is left.
    connect(m_whereList, &QComboBox::activated, this, [this] { applyWhere(); });
    if (!m_finder)
        return;
    connect(m_findButton, &QPushButton::clicked, this, [this] {
        m_searchFailed = false;
        m_asked = 0;
        m_finder->start();
        showSearch();
    });
    connect(m_finder, &MeterFinder::progressed, this, [this](int asked) {
        m_asked = asked;
        showSearch();
    });
    connect(m_finder, &MeterFinder::meterFound, this, &MeterSourceGroup::showSearch);
    connect(m_finder, &MeterFinder::finished, this, [this](bool ok) {
        m_searchFailed = !ok;
        showSearch();
    });
}

void MeterSourceGroup::loadSettings()
{
    const QSignalBlocker blocker(m_sourceList);
    m_sourceList->setCurrentIndex(
        std::max(0, int(kSources.indexOf(m_settings.text(Setting::MeterSource)))));
    m_whereList->setEditText(m_settings.text(Setting::MeterWhere));
    showSearch();
}

void MeterSourceGroup::setLanguage(const QString& code)
{
    m_languageCode = code;
    m_sourceList->setItemText(0, textFor(Text::OptionsSourceCentral, code));
    m_sourceList->setItemText(1, textFor(Text::OptionsSourceMeter, code));
    m_whereLabel->setText(textFor(Text::OptionsMeterWhere, code));
    m_findButton->setText(textFor(Text::OptionsFindMeters, code));
    showSearch();
}

void MeterSourceGroup::sourceChosen(int position)
{
    if (position >= 0 && position < kSources.size() &&
        kSources.at(position) != m_settings.text(Setting::MeterSource))
        m_store(Setting::MeterSource, kSources.at(position));
}

void MeterSourceGroup::applyWhere()
{
    const QString typed = m_whereList->currentText().trimmed();
    if (!Settings::isValid(Setting::MeterWhere, typed)) {
        m_whereList->setEditText(m_settings.text(Setting::MeterWhere));
        return;
    }
    if (typed != m_settings.text(Setting::MeterWhere))
        m_store(Setting::MeterWhere, typed);
}

// While the search runs: how far it got and what answered; then what it found, or why not.
void MeterSourceGroup::showSearch()
{
    if (!m_finder)
        return;
    const bool running = m_finder->isRunning();
    m_findButton->setEnabled(!running);

    QStringList meters;
    const QString current = m_whereList->currentText();
    {
        const QSignalBlocker blocker(m_whereList);
        m_whereList->clear();
        for (const FoundMeter& meter : m_finder->found()) {
            meters << QStringLiteral("%1 (%2 W)").arg(meter.where).arg(meter.watts);
            m_whereList->addItem(meter.where);
        }
        m_whereList->setEditText(current);
    }

    QString text;
    if (running)
        text = textFor(Text::MeterSearchProgress, m_languageCode)
                   .arg(m_asked)
                   .arg(MeterFinder::kAddressCount);
    else if (m_searchFailed)
        text = textFor(Text::MeterSearchFailed, m_languageCode);
    else if (m_asked > 0 && meters.isEmpty())
        text = textFor(Text::MetersNotFound, m_languageCode);
    if (!meters.isEmpty()) {
        const QString found = textFor(Text::MetersFound, m_languageCode).arg(meters.join(", "));
        text = text.isEmpty() ? found : text + QStringLiteral(" · ") + found;
    }
    m_searchLabel->setText(text);
    m_searchLabel->setToolTip(text);
}

bool MeterSourceGroup::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_whereList && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            applyWhere();
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace powerlog
