#pragma once

#include "address/router/routeroptions.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace quendle::router {
class PortMapper;
struct MappingNote;
} // namespace quendle::router

namespace quendle::cli {

class SerialWorker;

// The ports of `[router] forward` while `watch` runs: made at start, looked after at every check
// (renewed at half their lease, made again when the router forgot them), removed at the end. The
// router is asked on a worker of its own, so that a slow one delays neither checks nor uploads.
class PortForwarding : public QObject
{
    Q_OBJECT
public:
    explicit PortForwarding(QObject* parent = nullptr);
    ~PortForwarding() override;

    // Starts over with `options`: the mappings of the previous options that differ are removed
    // first. Nothing is made when `options` forwards no port.
    void keep(const router::RouterOptions& options, std::chrono::milliseconds interval);
    // Removes every mapping, then calls `done` on this object's thread, never before returning.
    void stop(std::function<void()> done);

private:
    void lookAfter();
    void log(const QList<router::MappingNote>& notes);

    router::RouterOptions m_options;
    std::shared_ptr<router::PortMapper> m_mapper; // used on the worker only
    QTimer m_timer;
    bool m_busy = false; // the worker still looks after the mappings of the last tick
    // Last, so that it is destroyed first: its thread ends before anything it uses goes.
    std::unique_ptr<SerialWorker> m_worker;
};

} // namespace quendle::cli
