#include "cli/portforwarding.h"

#include "address/router/portmapper.h"
#include "cli/logger.h"
#include "cli/serialworker.h"

namespace quendle::cli {

PortForwarding::PortForwarding(QObject* parent)
    : QObject(parent), m_worker(std::make_unique<SerialWorker>())
{
    m_timer.callOnTimeout(this, &PortForwarding::lookAfter);
}

PortForwarding::~PortForwarding()
{
    m_worker.reset(); // its last results are queued to this object
}

void PortForwarding::keep(const router::RouterOptions& options, std::chrono::milliseconds interval)
{
    m_timer.setInterval(interval);
    if (m_mapper && options == m_options)
        return;
    if (m_mapper)
        m_worker->post([this, mapper = m_mapper] {
            const auto notes = mapper->removeAll();
            QMetaObject::invokeMethod(
                this, [this, notes] { log(notes); }, Qt::QueuedConnection);
        });
    m_options = options;
    m_mapper.reset();
    m_timer.stop();
    if (options.forwardPorts.isEmpty())
        return;
    m_mapper = std::make_shared<router::PortMapper>(options);
    m_timer.start();
    m_busy = false; // a tick of the previous mapper still running does not hold up this one
    lookAfter();
}

void PortForwarding::stop(std::function<void()> done)
{
    m_timer.stop();
    if (!m_mapper) {
        // Later, as with mappings to remove: the caller counts on it.
        QMetaObject::invokeMethod(this, done, Qt::QueuedConnection);
        return;
    }
    m_worker->post([this, mapper = m_mapper, done] {
        const auto notes = mapper->removeAll();
        QMetaObject::invokeMethod(
            this,
            [this, notes, done] {
                log(notes);
                done();
            },
            Qt::QueuedConnection);
    });
    m_mapper.reset();
}

void PortForwarding::lookAfter()
{
    if (m_busy || !m_mapper)
        return;
    m_busy = true;
    m_worker->post([this, mapper = m_mapper] {
        const auto notes = mapper->keep();
        QMetaObject::invokeMethod(
            this,
            [this, notes] {
                m_busy = false;
                log(notes);
            },
            Qt::QueuedConnection);
    });
}

void PortForwarding::log(const QList<router::MappingNote>& notes)
{
    for (const router::MappingNote& note : notes) {
        const QString line = QStringLiteral("router: ") + note.text;
        switch (note.level) {
        case router::MappingNote::Level::Debug:
            logger::debug(line);
            break;
        case router::MappingNote::Level::Info:
            logger::info(line);
            break;
        case router::MappingNote::Level::Warning:
            logger::warning(line);
            break;
        }
    }
}

} // namespace quendle::cli
