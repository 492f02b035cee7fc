#pragma once

#include "app/settingsstore.h"

#include <QHash>
#include <QStringList>

namespace powerlog::test {

// Writes settings given as "Section/Key" = value into `store`, after pointing the gateway at
// 127.0.0.1:`port` (a test's own simulator).
inline void writeStoredSettings(SettingsStore& store, quint16 port,
                                const QHash<QString, QString>& stored)
{
    store.setValue(QStringLiteral("Option"), QStringLiteral("ServerIP"),
                   QStringLiteral("127.0.0.1"));
    store.setValue(QStringLiteral("Option"), QStringLiteral("ServerPORT"), QString::number(port));
    for (auto it = stored.begin(); it != stored.end(); ++it) {
        const QStringList parts = it.key().split(QLatin1Char('/'));
        store.setValue(parts.at(0), parts.at(1), it.value());
    }
}

} // namespace powerlog::test
