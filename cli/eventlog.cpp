#include "cli/eventlog.h"

#include "base/reasontext.h"
#include "cli/logger.h"
#include "service/publishengine.h"

namespace quendle::cli {

using namespace Qt::Literals::StringLiterals;

namespace {

QString seconds(std::chrono::milliseconds delay)
{
    return QString::number(static_cast<double>(delay.count()) / 1000.0, 'g', 4);
}

} // namespace

EventLog::EventLog(Command command, std::function<void(int)> stopped)
    : m_command(command), m_stopped(std::move(stopped))
{
}

void EventLog::report(const EngineEvent& event)
{
    std::visit([this](const auto& particular) { log(particular); }, event);
}

QString EventLog::prefix(AddressFamily family) const
{
    return familyPrefix(family, m_families);
}

void EventLog::log(const events::AddressChecked& event)
{
    m_families = event.round.families.size();
    for (const FamilyAddress& family : event.round.families) {
        const QString before = prefix(family.family);
        for (const NamedAnswer& named : family.answers) {
            if (named.answer.ok()) {
                logger::debug(
                    QStringLiteral("%1source %2 answered %3 (%4)")
                        .arg(before, named.source, named.answer.address, named.answer.origin));
                continue;
            }
            const QString line =
                QStringLiteral("%1source %2: %3").arg(before, named.source, named.answer.error);
            if (m_command == Command::Once)
                logger::warning(line);
            else
                logger::debug(line);
        }
    }
}

void EventLog::log(const events::AddressFound& event)
{
    const FamilyAddress& found = event.found;
    const QString before = prefix(found.family);
    if (event.previous.isEmpty())
        logger::info(QStringLiteral("%1address %2 found by %3 (%4)")
                         .arg(before, found.address, found.source, found.origin));
    else
        logger::info(QStringLiteral("%1address changed: %2 → %3 (%4)")
                         .arg(before, event.previous, found.address, found.source));
}

void EventLog::log(const events::FamilyNotPublished& event)
{
    logger::warning(QStringLiteral("%1address not published: %2")
                        .arg(prefix(event.found.family), event.found.reason));
}

void EventLog::log(const events::AddressNotFound& event)
{
    if (m_command == Command::Once)
        logger::error(QStringLiteral("address not found: nothing was uploaded"));
    else if (event.again)
        logger::debug(QStringLiteral("address still not found: %1").arg(event.reason));
    else
        logger::warning(QStringLiteral("address not found: %1").arg(event.reason));
}

void EventLog::log(const events::NoticesGathered&)
{
    logger::debug(QStringLiteral("the kernel reported an address change: checking now"));
}

void EventLog::log(const events::PageNotWritten& event)
{
    logger::error(event.reason);
}

void EventLog::log(const events::TargetChanged& event)
{
    const QString target = event.target.text();
    const bool page = event.target.kind == TargetKind::Page;
    switch (event.after) {
    case Standing::Working:
        logger::debug(u"%1: %2"_s.arg(target, page ? u"uploading"_s : u"updating"_s));
        break;
    case Standing::Failed:
        if (event.nextTryIn)
            logger::info(u"%1: next try in %2 s"_s.arg(target, seconds(*event.nextTryIn)));
        break;
    case Standing::Held:
        if (const TargetOutcome* cause = event.cause ? &*event.cause : nullptr;
            cause && cause->name())
            logger::error(u"%1: no more tries until the configuration is reloaded (systemctl "
                          u"reload, or SIGHUP)"_s.arg(target));
        else
            logger::error(
                u"%1: the server refused the login; no more tries until the configuration is "
                u"reloaded, so that the account is not locked: %2, then reload (systemctl "
                u"reload, or SIGHUP)"_s.arg(
                    target, whatToDoAboutRefusal(cause && cause->page()->failure
                                                     ? cause->page()->failure->error
                                                     : TransferError::LoginRefused)));
        break;
    case Standing::Unverified:
        logger::warning(u"%1: %2"_s.arg(target, event.reason));
        break;
    case Standing::Current:
        if (event.before == Standing::Unverified)
            logger::info(u"%1: the page is now seen where visitors look"_s.arg(target));
        break;
    case Standing::Pending:
    case Standing::Stopped:
        break;
    }
}

void EventLog::log(const events::WorkEnded& event)
{
    if (const NameOutcome* name = event.outcome.name())
        return logName(event.target.text(), *name);
    const QString target = event.target.text();
    const PageOutcome& page = *event.outcome.page();
    if (page.loggedIn)
        logger::debug(u"%1: logged in"_s.arg(target));
    if (page.failure) {
        const QString why = withDetails(page.failure->reason, page.failure->details);
        if (event.offline && m_command == Command::Watch)
            logger::error(u"%1: the offline page was not published: %2"_s.arg(target, why));
        else
            logger::error(u"%1: %2"_s.arg(target, why));
        return;
    }
    const QString what = !event.offline                ? u"page uploaded"_s
                         : m_command == Command::Watch ? u"offline page published"_s
                                                       : u"offline page uploaded"_s;
    logger::info(
        u"%1: %2 (%3 bytes, %4 ms)"_s.arg(target, what).arg(page.bytes).arg(page.milliseconds));
    // How it went up, when that is worth a warning (the server refused the rename).
    if (!page.note.isEmpty())
        logger::warning(u"%1: %2"_s.arg(target, page.note));
    if (page.check == PageOutcome::Check::Verified)
        logger::info(u"%1: %2"_s.arg(target, page.checkNote));
}

void EventLog::logName(const QString& target, const NameOutcome& name)
{
    if (!name.verified()) {
        logger::error(u"%1: %2"_s.arg(target, withDetails(name.reason(), name.details())));
        return;
    }
    logger::info(u"%1: %2 (%3 ms)"_s.arg(target, name.summary()).arg(name.milliseconds()));
    // A family the name asks for is not published.
    if (!name.details().isEmpty())
        logger::warning(u"%1: %2"_s.arg(target, name.details()));
}

QString whatToDoAboutRefusal(TransferError error)
{
    switch (error) {
    case TransferError::CertificateNotTrusted:
        return QStringLiteral("trust the server's certificate authority with SSL_CERT_FILE or "
                              "SSL_CERT_DIR, or have the server's certificate fixed");
    case TransferError::HostKeyUnknown:
        return QStringLiteral("check the server's host key with its administrator and add it to "
                              "known_hosts (ssh once by hand)");
    case TransferError::HostKeyChanged:
        return QStringLiteral("confirm the server's new host key with its administrator, then "
                              "remove the old one with ssh-keygen -R");
    default:
        return QStringLiteral("correct the user name or the password");
    }
}

void EventLog::log(const events::OfflineSkipped& event)
{
    logger::error(QStringLiteral("%1: the offline page was not published: the server refused the "
                                 "login earlier")
                      .arg(event.target.text()));
}

void EventLog::log(const events::FailingInARow& event)
{
    logger::warning(QStringLiteral("%1: failed %2 times in a row")
                        .arg(event.target.text())
                        .arg(event.failures));
}

void EventLog::log(const events::WorksAgain& event)
{
    logger::info(QStringLiteral("%1: works again").arg(event.target.text()));
}

void EventLog::log(const events::AddressNote& event)
{
    logger::warning(prefix(event.family) + event.text);
}

void EventLog::log(const events::RoundEnded& event)
{
    logger::debug(standingSummary(event.published.addresses(), event.counts));
}

void EventLog::log(const events::Alive&) {}

void EventLog::log(const events::PortsNoted& event)
{
    for (const router::MappingNote& note : event.notes) {
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

void EventLog::log(const events::Reloaded& event)
{
    logger::info(QStringLiteral("configuration reloaded from %1").arg(event.configFile));
}

void EventLog::log(const events::ReloadRefused& event)
{
    for (const QString& problem : event.problems)
        logger::error(problem);
    logger::error(QStringLiteral("the configuration was not reloaded; the previous one stays"));
}

void EventLog::log(const events::Stopping& event)
{
    if (m_command == Command::Watch)
        logger::info(QStringLiteral("%1: publishing the offline page").arg(event.why));
}

void EventLog::log(const events::Stopped& event)
{
    for (const TargetId& target : event.unfinished)
        logger::error(QStringLiteral("%1: the offline page did not get through within %2 s; "
                                     "stopping without it")
                          .arg(target.text())
                          .arg(PublishEngine::kStopBound.count() / 1000));
    m_stopped(event.exitStatus);
}

} // namespace quendle::cli
