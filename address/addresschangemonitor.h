#pragma once

#include <QString>

namespace quendle {

// Listens to the kernel's notices (netlink) about addresses coming and going and default routes
// changing, so that a new address is noticed at once instead of at the next check. The socket is
// for the caller's event loop: when it becomes readable, call readChanges().
class AddressChangeMonitor
{
public:
    AddressChangeMonitor();
    ~AddressChangeMonitor();
    AddressChangeMonitor(const AddressChangeMonitor&) = delete;
    AddressChangeMonitor& operator=(const AddressChangeMonitor&) = delete;

    bool listening() const { return m_socket >= 0; }
    QString error() const { return m_error; }
    int socket() const { return m_socket; }

    // Reads every pending notice. True when one of them may change the address of the interface
    // named `interfaceName` (any interface when empty): one of its addresses, or a default route.
    bool readChanges(const QString& interfaceName);

private:
    int m_socket = -1;
    QString m_error;
};

} // namespace quendle
