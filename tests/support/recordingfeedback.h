#pragma once

#include "ui/feedback.h"

#include <QStringList>

#include <functional>
#include <vector>

namespace quendle::testing {

// Records what the user would have been shown, in order, and dismisses every message at once.
class RecordingFeedback : public Feedback
{
public:
    struct Shown
    {
        QString text;
        Icon icon;
        QString details;
    };

    void message(const QString& text, Icon icon, const QString& details = {}) override
    {
        events << QStringLiteral("message:") + text;
        messages.push_back({text, icon, details});
        cursorOverriddenAtMessage.push_back(busyDepth != 0);
        if (onMessage)
            onMessage(text);
    }
    bool question(const QString& text) override
    {
        events << QStringLiteral("question:") + text;
        questions << text;
        return !answers.isEmpty() && answers.takeFirst();
    }
    void beep() override { events << QStringLiteral("beep"); }
    void busy(bool on) override
    {
        busyDepth += on ? 1 : -1;
        events << (on ? QStringLiteral("busy") : QStringLiteral("idle"));
    }

    QStringList events;
    std::vector<Shown> messages;
    QStringList questions;
    QList<bool> answers; // Yes or No for the questions to come; No when none is left
    std::vector<bool> cursorOverriddenAtMessage;
    int busyDepth = 0;
    std::function<void(const QString&)> onMessage; // runs while the message is "open"
};

} // namespace quendle::testing
