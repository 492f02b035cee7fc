#include "ui/common/controls.h"

#include <QLabel>

namespace powerlog {

QLabel* makeLabel(QWidget* parent, const QString& name, const QRect& geometry)
{
    auto* label = placeControl<QLabel>(parent, name, geometry);
    label->setTextFormat(Qt::PlainText);
    return label;
}

} // namespace powerlog
