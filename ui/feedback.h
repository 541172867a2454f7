#pragma once

#include <QString>

namespace quendle {

// Everything the user is shown besides the windows themselves: message boxes, questions, the beep
// and the wait cursor. The program shows real ones; tests record them and answer at once.
class Feedback
{
public:
    enum class Icon { None, Information, Warning, Critical };
    virtual ~Feedback() = default;
    // A modal message captioned with the program's title, with an OK button only; returns when
    // it has been dismissed. `details` is offered as the box's detailed text.
    virtual void message(const QString& text, Icon icon, const QString& details = {}) = 0;
    // A modal question captioned with the program's title, with Yes and No; Escape answers No.
    // Returns true for Yes.
    virtual bool question(const QString& text) = 0;
    virtual void beep() = 0;
    virtual void busy(bool on) = 0; // wait cursor on / off
};

} // namespace quendle
