#pragma once

#include <QString>
#include <functional>

namespace powerlog {

// File choosers. Nothing waits on them: the program shows a real dialog and carries on, and
// the chosen file comes back through a callback. Tests answer from a script.
class FileDialogs
{
public:
    virtual ~FileDialogs() = default;

    // Asks where to save. `suggested` is the proposed file (folder and name), `filter` the
    // dialog's filter text ("Text (*.txt)"). An existing file is confirmed by the dialog
    // itself before it is chosen. `chosen` is called once, with an empty path when the user
    // cancels.
    virtual void askSaveFile(const QString& title, const QString& suggested, const QString& filter,
                             std::function<void(const QString& path)> chosen) = 0;
};

} // namespace powerlog
