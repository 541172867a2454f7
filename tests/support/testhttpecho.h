#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "testcertificates.h"

namespace quendle::testing {

// A web address echo on a free loopback port (httpecho.py, python's http.server). Its answer is
// what the test last set; with none set, it answers 404.
class TestHttpEcho
{
public:
    // `bindAddress` is 127.0.0.1 or ::1; `launcher` a command that starts the server (nsenter);
    // with `tls`, the echo speaks HTTPS with that certificate.
    explicit TestHttpEcho(const QString& bindAddress = QStringLiteral("127.0.0.1"),
                          const QStringList& launcher = {},
                          const TestCertificates::Pair* tls = nullptr);
    ~TestHttpEcho();

    bool running() const { return m_port != 0; }
    QString startError() const { return m_error; }
    QString url() const; // the address whose body is the answer
    // An address that reaches url() after exactly `redirects` redirects.
    QString urlAfterRedirects(int redirects) const;

    // Replaces the answer whole, so that no request sees half of it.
    void setAnswer(const QByteArray& body);
    // From now on url() answers with a redirect to `location`.
    void redirectTo(const QString& location);

private:
    QString base() const;

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_bindAddress;
    QString m_scheme;
    int m_port = 0;
    QString m_error;
};

} // namespace quendle::testing
