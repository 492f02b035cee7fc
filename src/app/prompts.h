#pragma once

#include <QString>

namespace powerlog {

// Message boxes and Yes/No questions. The program shows real dialogs; tests record them and
// answer questions from a script, so no test ever waits on a modal window.
class Prompts
{
public:
    enum class Icon { Information, Exclamation, Critical, Question };

    virtual ~Prompts() = default;

    // An empty title means the program's own name.
    virtual void message(const QString& title, const QString& text, Icon icon) = 0;

    // Yes/No with the question icon. Any answer but No counts as yes.
    virtual bool askYesNo(const QString& title, const QString& text) = 0;
};

} // namespace powerlog
