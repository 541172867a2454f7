#pragma once

#include "dns/dnsoutcome.h"
#include "ftp/transferclient.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <variant>

namespace quendle {

// Why a page did not go up, worded where it failed: at the login or in the transfer.
struct UploadFailure
{
    QString reason;  // for people
    QString details; // the library's message and the server's reply; never the password
    TransferError error = TransferError::None; // the transfer component's own word for it

    // The server refused this login or its identity failed the checks: trying again unchanged
    // cannot help, and may get the account locked.
    bool refused() const;
};

// What one try of a page came to.
struct PageOutcome
{
    // Whether visitors were seen to get the page after it went up.
    enum class Check { None, Verified, NotVerified };

    std::optional<UploadFailure> failure; // none: the page is on the server
    bool loggedIn = false;                // this try made a new login
    // The page went straight under its name instead of being renamed over the old one (the
    // server refused the temporary file or its rename); `note` then says what was refused.
    bool direct = false;
    QString note;
    qint64 bytes = 0;
    qint64 milliseconds = 0;
    Check check = Check::None;
    QString checkNote; // what the read-back found, for people

    bool uploaded() const { return !failure; }
};

// What one try of a name came to: each family's record as dns/ reported it.
struct NameOutcome
{
    QList<DnsOutcome> records;
    QStringList notes;     // families asked for that this name does not publish, not said before
    bool together = false; // the records went in one exchange with other names'

    // The provider refuses the account or the name until the configuration changes.
    bool held() const;
    // An update went out.
    bool updated() const;
    // The authoritative servers hold every record's address.
    bool verified() const;
    std::chrono::seconds retryNotBefore() const;
    qint64 milliseconds() const;
    QString summary() const; // what the records hold now, for people
    QString reason() const;  // why the records that failed did
    QString details() const; // the notes and the servers' answers
};

// What one try of a target came to, as its kind tells it. The engine asks only what is below;
// the log reads the kind's own outcome.
class TargetOutcome
{
public:
    TargetOutcome(PageOutcome page) : m_outcome(std::move(page)) {}
    TargetOutcome(NameOutcome name) : m_outcome(std::move(name)) {}

    const PageOutcome* page() const { return std::get_if<PageOutcome>(&m_outcome); }
    const NameOutcome* name() const { return std::get_if<NameOutcome>(&m_outcome); }

    // A page went up; every record of a name is held by its servers.
    bool ok() const;
    // A page went up but visitors were not seen to get it.
    bool unseen() const;
    // Visitors were seen to get the page.
    bool seen() const;
    // Not to be tried again before a reload: a refused login or identity, a held name.
    bool refused() const;
    // Why it failed; for an unseen page, what visitors get instead.
    QString reason() const;
    // The server asked not to be tried again sooner than this.
    std::chrono::seconds retryNotBefore() const;

private:
    std::variant<PageOutcome, NameOutcome> m_outcome;
};

} // namespace quendle
