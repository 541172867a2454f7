#include "service/targetpublisher.h"

#include "publish/serverconnection.h"
#include "publish/uploadpage.h"

#include <QElapsedTimer>
#include <QFileInfo>

namespace quendle {

TargetPublisher::TargetPublisher(const TargetSettings& settings, TransferTimeouts timeouts)
    : m_settings(settings), m_timeouts(timeouts)
{
}

TargetPublisher::~TargetPublisher()
{
    logOut();
}

PageOutcome TargetPublisher::publish(const QString& pagePath)
{
    QElapsedTimer clock;
    clock.start();
    PageOutcome outcome;
    if (!m_ftp)
        m_ftp = std::make_unique<CurlTransferClient>(m_timeouts);
    if (!m_connected) {
        ConnectResult login =
            logIn(*m_ftp, {m_settings.host, m_settings.user, m_settings.password});
        if (login.status == ConnectResult::Status::Untrusted)
            login = refuseWithoutAsking(login);
        if (login.status != ConnectResult::Status::Connected) {
            outcome.failure = UploadFailure{login.text, login.details, login.error};
            outcome.milliseconds = clock.elapsed();
            return outcome;
        }
        m_connected = true;
        outcome.loggedIn = true;
    }
    outcome.bytes = QFileInfo(pagePath).size();
    const UploadResult upload =
        UploadPage(*m_ftp, m_settings.directory, pagePath, m_settings.remoteName);
    outcome.milliseconds = clock.elapsed();
    if (upload.status != UploadResult::Status::Transferred) {
        outcome.failure = UploadFailure{upload.text, upload.details, upload.error};
        logOut();
        return outcome;
    }
    outcome.direct = upload.direct;
    outcome.note = upload.details;
    return outcome;
}

void TargetPublisher::logOut()
{
    if (m_connected)
        m_ftp->disconnect();
    m_connected = false;
}

} // namespace quendle
