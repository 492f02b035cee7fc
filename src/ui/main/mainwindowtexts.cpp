#include "ui/main/mainwindowtexts.h"

#include "app/language.h"

#include <QAbstractButton>
#include <QLabel>
#include <QWidget>

namespace powerlog {

namespace {

enum class Property { Tooltip, Caption };

struct CaptionRow
{
    const char* control;
    Property property;
    Text text;
};

// clang-format off
const CaptionRow kCaptions[] = {
    {"ImReload", Property::Tooltip, Text::RefreshTooltip},
    {"ImRec",    Property::Tooltip, Text::RecordTooltip},
    {"ImStop",   Property::Tooltip, Text::StopTooltip},
    {"ImTool",   Property::Tooltip, Text::OptionsTooltip},
    {"Lbt_0",    Property::Caption, Text::TensionCaption},
    {"Lbt_1",    Property::Caption, Text::CurrentCaption},
    {"Lbt_2",    Property::Caption, Text::PowerCaption},
    {"Lbt_3",    Property::Caption, Text::EnergyCaption},
    {"Lbt_4",    Property::Caption, Text::LinePowerCaption},
    {"Lbt_5",    Property::Caption, Text::MaxPowerCaption},
    {"Lbt_6",    Property::Caption, Text::MidPowerCaption},
};
// clang-format on

void writeRow(QWidget& window, const CaptionRow& row, int column)
{
    auto* control = window.findChild<QWidget*>(QLatin1String(row.control));
    if (!control)
        return;
    const QString text = textIn(row.text, column);
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
