#pragma once

#include <QString>
#include <functional>

namespace powerlog {

// Message boxes and Yes/No questions. Nothing waits on them: the program shows real dialogs
// and carries on, and an answer comes back through a callback. Tests record them and answer
// questions from a script, so no test ever waits on a modal window.
class Prompts
{
public:
    enum class Icon { Information, Exclamation, Critical, Question };

    virtual ~Prompts() = default;

    // An empty title means the program's own name.
    virtual void message(const QString& title, const QString& text, Icon icon) = 0;

    // Yes/No with the question icon. Returns at once; `answer` is called later, once, with
    // the user's choice. Any answer but No counts as yes.
    virtual void askYesNo(const QString& title, const QString& text,
                          std::function<void(bool yes)> answer) = 0;
};

} // namespace powerlog
