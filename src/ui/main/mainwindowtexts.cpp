#include "ui/main/mainwindowtexts.h"

#include "app/language.h"

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>
#include <array>

namespace powerlog {

namespace {

enum class Property { Tooltip, Caption };

struct CaptionRow
{
    const char* control;
    Property property;
    std::array<const char*, kLanguageCount> text; // ita, eng
};

// clang-format off
const CaptionRow kCaptions[] = {
    {"ImReload", Property::Tooltip, {"Aggiorna", "Refresh"}},
    {"ImRec",    Property::Tooltip, {"Registra", "Record"}},
    {"ImStop",   Property::Tooltip, {"Ferma", "Stop"}},
    {"ImTool",   Property::Tooltip, {"Opzioni", "Options"}},
    {"Lbt_0",    Property::Caption, {"Tensione", "Tension"}},
    {"Lbt_1",    Property::Caption, {"Corrente", "Current"}},
    {"Lbt_2",    Property::Caption, {"Potenza", "Power"}},
    {"Lbt_3",    Property::Caption, {"Energia", "Energy"}},
    {"Lbt_4",    Property::Caption, {"Linea", "Line power"}},
    {"Lbt_5",    Property::Caption, {"Potenza Max", "Max Power"}},
    {"Lbt_6",    Property::Caption, {"Potenza Med", "Mid Power"}},
};
// clang-format on

constexpr int kItalian = 0;
constexpr int kEnglish = 1;

void writeRow(QWidget& window, const CaptionRow& row, int column)
{
    auto* control = window.findChild<QWidget*>(QLatin1String(row.control));
    if (!control)
        return;
    const QString text = QString::fromUtf8(row.text[column]);
    if (row.property == Property::Tooltip) {
        control->setToolTip(text);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(text);
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(text);
    }
}

} // namespace

bool applyMainWindowCaptions(QWidget& window, const QString& code)
{
    const auto column = languageColumn(code);
    if (!column)
        return false;
    for (const auto& row : kCaptions)
        writeRow(window, row, *column);
    return true;
}

void applyMainWindowDesignTexts(QWidget& window)
{
    for (const auto& row : kCaptions)
        writeRow(window, row, row.property == Property::Caption ? kItalian : kEnglish);
}

} // namespace powerlog
