#include "ui/common/controls.h"

#include <QHelpEvent>
#include <QLabel>
#include <QToolTip>

namespace powerlog {

QLabel* makeLabel(QWidget* parent, const QString& name, const QRect& geometry)
{
    auto* label = placeControl<QLabel>(parent, name, geometry);
    label->setTextFormat(Qt::PlainText);
    return label;
}

bool answerToolTip(QWidget* widget, QHelpEvent* help, const QString& text)
{
    if (text.isEmpty()) {
        QToolTip::hideText();
        help->ignore();
    } else {
        QToolTip::showText(help->globalPos(), text, widget);
    }
    return true;
}

} // namespace powerlog
