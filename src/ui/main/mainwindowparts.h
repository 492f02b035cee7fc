#pragma once

#include "ui/common/artwork.h"

#include <QColor>
#include <QDateTime>
#include <QRect>
#include <QString>

class QLabel;
class QToolButton;
class QWidget;

namespace powerlog {

class PanelLabel;

// The pieces the main window is made of, as it places and paints them.

// The seven-segment face of the readouts, from the program's own resources.
QString sevenSegmentFamily();
// Local time in the user's long format, without a time-zone name.
QString localTime(const QTime& time);
QString localDateTime(const QDateTime& when);
// Long values (the energy counter grows for years) shrink the digits rather than lose them; an
// empty value shows as a dash.
// A reading's value as the windows show it: a value not measured (an energy meter's tension
// and current) as a dash.
QString shownValue(const QString& value);
void fitReadout(QLabel* readout, const QString& text);
QLabel* makeAlignedLabel(QWidget* parent, const QString& name, const QRect& geometry,
                         Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
PanelLabel* makePanel(QWidget* parent, const QString& name, const QRect& geometry,
                      const QColor& fill, const QColor& border, const QColor& text,
                      Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter);
// Colours set through the palette, not a style sheet: a style sheet would reach the label's
// tooltip too and paint it in the same light colour on the tooltip's pale background.
void paintText(QLabel* label, const QColor& colour, qreal pointSize, bool bold = false);
QToolButton* makeButton(QWidget* parent, const QString& name, Button art, int x, int y);

} // namespace powerlog
