#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace quendle::testing {

// A web address echo on a free loopback port (python's http.server serving a folder). Its
// answer is what the test last set; with none set, it answers 404.
class TestHttpEcho
{
public:
    // `bindAddress` is 127.0.0.1 or ::1; `launcher` a command that starts the server (nsenter).
    explicit TestHttpEcho(const QString& bindAddress = QStringLiteral("127.0.0.1"),
                          const QStringList& launcher = {});
    ~TestHttpEcho();

    bool running() const { return m_port != 0; }
    QString startError() const { return m_error; }
    QString url() const; // the address whose body is the answer

    // Replaces the answer whole, so that no request sees half of it.
    void setAnswer(const QByteArray& body);

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_bindAddress;
    int m_port = 0;
    QString m_error;
};

} // namespace quendle::testing
