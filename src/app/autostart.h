#pragma once

#include <QString>

namespace powerlog {

// Starting with the user's session, the XDG way: an entry in the autostart folder
// (~/.config/autostart/powerlog.desktop) that desktops run at login. The entry is the program's
// own file: present means on, absent means off.
class SessionAutostart
{
public:
    SessionAutostart(QString entryFile, QString program);

    // This user's autostart folder, starting the running executable.
    static SessionAutostart forThisUser();

    QString entryFile() const { return m_entryFile; }
    bool isEnabled() const;

    // Writes the entry (making the folder) or removes it. False, with the reason, when that
    // fails; turning off an entry that is not there succeeds.
    bool setEnabled(bool on, QString* error) const;

    // The entry's text for a program path, quoted as the desktop-entry format wants.
    static QString entryText(const QString& program);

private:
    QString m_entryFile;
    QString m_program;
};

} // namespace powerlog
