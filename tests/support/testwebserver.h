#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace quendle::testing {

// A web server on a free loopback port (webserver.py): serves the files of `folder` (by default
// one of its own) to GET, answers POST as the test chose, and records every request.
class TestWebServer
{
public:
    // With `certificate` and `key` (PEM files), it speaks HTTPS.
    explicit TestWebServer(const QString& folder = {}, const QString& certificate = {},
                           const QString& key = {});
    ~TestWebServer();

    bool running() const { return m_port != 0; }
    QString startError() const { return m_error; }
    QString url(const QString& path) const; // path starting with "/"
    QString folder() const { return m_folder; }

    // Puts a file in the folder, replacing the old one in one step.
    void setFile(const QString& name, const QByteArray& bytes) const;
    // What POST answers from now on.
    void setPostAnswer(int status, const QByteArray& body) const;
    // Each request so far: "method", "path", "headers" (a list of [name, value]), "body".
    QList<QJsonObject> requests() const;
    // The value of header `name` in `request`, empty when it has none.
    static QString header(const QJsonObject& request, const QString& name);

private:
    QTemporaryDir m_dir;
    QString m_folder;
    QProcess m_process;
    int m_port = 0;
    QString m_scheme = QStringLiteral("http");
    QString m_error;
};

} // namespace quendle::testing
