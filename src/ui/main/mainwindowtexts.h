#pragma once

#include <QString>

class QWidget;

namespace powerlog {

// Captions and tooltips of the main window's controls, one row per control property and one
// column per language. Returns false, changing nothing, for a code that is not a language.
bool applyMainWindowCaptions(QWidget& window, const QString& code);

// The window's design texts, shown before any language is applied: Italian captions and
// English tooltips.
void applyMainWindowDesignTexts(QWidget& window);

} // namespace powerlog
