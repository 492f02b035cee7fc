#include "app/autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <algorithm>

namespace powerlog {

namespace {

// An Exec argument: quoted when it holds a character the format reserves, with the double
// quote, backquote, dollar and backslash escaped inside the quotes; then every backslash doubled
// again, as in any string value of the file.
QString execArgument(const QString& argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    const bool quote =
        std::any_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); });
    QString quoted = argument;
    if (quote) {
        quoted.clear();
        for (QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        quoted = u'"' + quoted + u'"';
    }
    // A percent sign would start a field code.
    quoted.replace(QStringLiteral("%"), QStringLiteral("%%"));
    return quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
}

} // namespace

SessionAutostart::SessionAutostart(QString entryFile, QString program)
    : m_entryFile(std::move(entryFile)), m_program(std::move(program))
{
}

SessionAutostart SessionAutostart::forThisUser()
{
    const QDir config(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation));
    return {config.filePath(QStringLiteral("autostart/powerlog.desktop")),
            QCoreApplication::applicationFilePath()};
}

bool SessionAutostart::isEnabled() const
{
    return QFileInfo(m_entryFile).isFile();
}

QString SessionAutostart::entryText(const QString& program)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Powerlog\n"
                          "GenericName=Energy monitor\n"
                          "Comment=Watch and record the household's power use\n"
                          "Comment[it]=Controlla e registra i consumi elettrici di casa\n"
                          "Exec=%1\n"
                          "Icon=powerlog\n"
                          "Terminal=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
        .arg(execArgument(program));
}

bool SessionAutostart::setEnabled(bool on, QString* error) const
{
    auto fail = [&](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (!on) {
        if (!QFileInfo::exists(m_entryFile) || QFile::remove(m_entryFile))
            return true;
        return fail(QStringLiteral("%1 cannot be removed").arg(m_entryFile));
    }
    if (!QDir().mkpath(QFileInfo(m_entryFile).absolutePath()))
        return fail(QStringLiteral("the folder of %1 cannot be created").arg(m_entryFile));
    QSaveFile file(m_entryFile);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    file.write(entryText(m_program).toUtf8());
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace powerlog
