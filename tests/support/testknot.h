#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace quendle::testing {

// Knot DNS on a free loopback port, primary of a zone of its own (example.test) that takes
// updates signed with the TSIG key "quendle" (hmac-sha256). A fresh zone for each instance:
// home.example.test holds A 192.0.2.1 and AAAA 2001:db8::1. A `launcher` (nsenter into a
// network namespace) goes in front of knotd, kdig and knsupdate alike.
class TestKnot
{
public:
    explicit TestKnot(const QStringList& launcher = {});
    ~TestKnot();

    bool running() const { return m_port != 0; }
    QString startError() const { return m_error; }
    int port() const { return m_port; }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    QString secret() const { return m_secret; } // base64

    // What the zone holds now, as kdig asks it (sorted), and the zone's SOA serial.
    QStringList records(const QString& name, const QString& type) const;
    QString serial() const;
    // The answer records of many questions ("name TYPE") in one kdig, sorted, each on one line
    // with single spaces ("name. TTL IN TYPE data").
    QStringList answers(const QStringList& questions) const;
    // Sends `commands` (knsupdate's language, without "server" and "send") signed with the key.
    QString update(const QString& commands) const;

private:
    bool start();

    // `program` and `arguments` behind the launcher.
    QByteArray run(const QString& program, const QStringList& arguments, QString* error,
                   const QByteArray& input = {}) const;

    QStringList m_launcher;
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_secret;
    int m_port = 0;
    QString m_error;
};

} // namespace quendle::testing
