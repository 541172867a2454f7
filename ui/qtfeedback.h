#pragma once

#include "ui/feedback.h"

namespace quendle {

// Real message boxes, the system beep and the application's wait cursor.
class QtFeedback : public Feedback
{
public:
    void message(const QString& text, Icon icon, const QString& details = {}) override;
    bool question(const QString& text) override;
    void beep() override;
    void busy(bool on) override;
};

} // namespace quendle
