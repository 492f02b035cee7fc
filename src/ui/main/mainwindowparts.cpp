#include "ui/main/mainwindowparts.h"

#include "ui/common/controls.h"
#include "ui/main/panelwidgets.h"

#include <QFontDatabase>
#include <QLabel>
#include <QLocale>
#include <QToolButton>

namespace powerlog {

QString sevenSegmentFamily()
{
    static const QString family = [] {
        const int id =
            QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/DSEG7Classic-Bold.ttf"));
        const QStringList families = QFontDatabase::applicationFontFamilies(id);
        return families.isEmpty() ? QStringLiteral("Monospace") : families.first();
    }();
    return family;
}

QString localTime(const QTime& time)
{
    QString format = QLocale().timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return QLocale().toString(time, format.trimmed());
}

QString localDateTime(const QDateTime& when)
{
    return QLocale().toString(when.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           localTime(when.time());
}

QString shownValue(const QString& value)
{
    return value.isEmpty() ? QStringLiteral("\u2014") : value;
}

void fitReadout(QLabel* readout, const QString& value)
{
    const QString text = shownValue(value);
    if (readout->text() == text)
        return;
    QFont font = readout->font();
    font.setPointSizeF(13);
    const int room = readout->contentsRect().width() - 6;
    while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(text) > room)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    readout->setFont(font);
    readout->setText(text);
}

QLabel* makeAlignedLabel(QWidget* parent, const QString& name, const QRect& geometry,
                         Qt::Alignment alignment)
{
    QLabel* label = makeLabel(parent, name, geometry);
    label->setAlignment(alignment);
    return label;
}

PanelLabel* makePanel(QWidget* parent, const QString& name, const QRect& geometry,
                      const QColor& fill, const QColor& border, const QColor& text,
                      Qt::Alignment alignment)
{
    auto* label = placeControl<PanelLabel>(parent, name, geometry, fill, border, text);
    label->setAlignment(alignment);
    label->setTextFormat(Qt::PlainText);
    return label;
}

void paintText(QLabel* label, const QColor& colour, qreal pointSize, bool bold)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    QFont font = label->font();
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    label->setFont(font);
}

QToolButton* makeButton(QWidget* parent, const QString& name, Button art, int x, int y)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(buttonIcon(art));
    button->setIconSize(QSize(20, 20));
    button->setAutoRaise(true);
    button->setGeometry(x, y, 28, 28);
    return button;
}

} // namespace powerlog
