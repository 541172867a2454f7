#pragma once

#include "address/sourceanswer.h"
#include "service/publishersettings.h"

#include <QList>
#include <QStringList>

#include <atomic>

namespace quendle {

// The names `[address] sources` accepts, in no particular order.
QStringList addressSourceNames();

struct NamedAnswer
{
    QString source;
    SourceAnswer answer;
};

// Asks the configured sources in their order: until one answers, or every one of them when
// `askAll` is set (to show what each says). Blocks for at most the sources' own bounds, less once
// `cancel` is set.
QList<NamedAnswer> askSources(const PublisherSettings& settings, bool askAll = false,
                              const std::atomic<bool>* cancel = nullptr);

} // namespace quendle
