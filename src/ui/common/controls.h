#pragma once

#include <QRect>
#include <QString>
#include <utility>

class QHelpEvent;
class QLabel;
class QWidget;

namespace powerlog {

// The windows lay their controls out by hand, at fixed places: each control is made on its
// window with the object name the tests and the language table find it by.
template <typename Control, typename... Arguments>
Control* placeControl(QWidget* parent, const QString& name, const QRect& geometry,
                      Arguments&&... arguments)
{
    auto* control = new Control(std::forward<Arguments>(arguments)..., parent);
    control->setObjectName(name);
    control->setGeometry(geometry);
    return control;
}

// A label that shows its text as it is, never as rich text.
QLabel* makeLabel(QWidget* parent, const QString& name, const QRect& geometry);

// Answers a tooltip event of `widget` with `text` at the pointer, or hides any tooltip when the
// text is empty (nothing under the pointer). For the widget's event(); returns true.
bool answerToolTip(QWidget* widget, QHelpEvent* help, const QString& text);

} // namespace powerlog
