#pragma once

#include "address/router/routeroptions.h"
#include "base/expected.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <memory>

namespace quendle::router {

// What the gateway answered to one request.
struct NatpmpReply
{
    int code = 0;    // 0: done; else the library's error, the gateway's result among them
    QString text;    // what went wrong, for people
    QString address; // the gateway's public address (public address request)
    quint16 publicPort = 0;
    quint32 lifetimeSeconds = 0;
    quint32 epochSeconds = 0;      // how long the gateway has kept its mappings
    bool answered = false;         // the gateway answered, perhaps with an error
    bool noOutsideAddress = false; // its answer: it has no outside address (network failure)
    bool ok() const { return code == 0; }
};

// NAT-PMP to the default gateway. Every request is sent again on the protocol's schedule
// (0.25 s, doubling) until the gateway answers or the wait given to open() passes.
class NatpmpGateway
{
public:
    static Expected<std::unique_ptr<NatpmpGateway>> open(std::chrono::milliseconds wait);

    ~NatpmpGateway();
    NatpmpGateway(const NatpmpGateway&) = delete;
    NatpmpGateway& operator=(const NatpmpGateway&) = delete;

    QString gatewayAddress() const;
    // "NAT-PMP at gateway 192.168.1.1", for people.
    QString where() const;

    NatpmpReply publicAddress(const std::atomic<bool>* cancel = nullptr);
    // A lease of 0 removes the mapping.
    NatpmpReply mapTcp(quint16 port, std::chrono::seconds lease);

private:
    struct Session;
    NatpmpGateway(std::unique_ptr<Session> session, std::chrono::milliseconds wait);
    NatpmpReply finish(int sent, const std::atomic<bool>* cancel);

    std::unique_ptr<Session> m_session;
    std::chrono::milliseconds m_wait;
};

} // namespace quendle::router
