#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace powerlog {

// What one run changes without touching the stored settings (the demo points the program at
// its own simulated gateway and names its loads).
struct RunOverrides
{
    std::optional<QString> serverAddress;
    std::optional<quint16> serverPort;
    std::optional<QString> serverPassword;
    std::optional<int> refreshSeconds;
    std::optional<QStringList> loadNames;
    bool startAutomatic = false;
    bool startRecording = false;
};

} // namespace powerlog
