#include "testwebserver.h"

#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>

namespace quendle::testing {

TestWebServer::TestWebServer(const QString& folder, const QString& certificate, const QString& key)
    : m_folder(folder.isEmpty() ? m_dir.filePath("served") : folder)
{
    QDir().mkpath(m_folder);
    QStringList arguments{QStringLiteral(QUENDLE_WEBSERVER_SCRIPT), m_folder, m_dir.path()};
    if (!certificate.isEmpty()) {
        arguments << "--cert" << certificate << "--key" << key;
        m_scheme = QStringLiteral("https");
    }
    m_process.setProgram("/usr/bin/python3");
    m_process.setArguments(arguments);
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start();
    if (!m_process.waitForStarted(10000) || !m_process.waitForReadyRead(15000)) {
        m_error = QStringLiteral("the web server did not start");
        return;
    }
    m_port = m_process.readLine().trimmed().toInt();
    if (m_port == 0)
        m_error = QStringLiteral("the web server gave no port");
}

TestWebServer::~TestWebServer()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString TestWebServer::url(const QString& path) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3").arg(m_scheme).arg(m_port).arg(path);
}

void TestWebServer::setFile(const QString& name, const QByteArray& bytes) const
{
    replaceWholeFile(QDir(m_folder).filePath(name), bytes);
}

void TestWebServer::setPostAnswer(int status, const QByteArray& body) const
{
    replaceWholeFile(m_dir.filePath("answer-body"), body);
    replaceWholeFile(m_dir.filePath("answer-status"), QByteArray::number(status));
}

QList<QJsonObject> TestWebServer::requests() const
{
    QFile file(m_dir.filePath("requests"));
    QList<QJsonObject> found;
    if (!file.open(QIODevice::ReadOnly))
        return found;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.isEmpty())
            found << QJsonDocument::fromJson(line).object();
    return found;
}

QString TestWebServer::header(const QJsonObject& request, const QString& name)
{
    for (const QJsonValue& pair : request.value("headers").toArray())
        if (pair.toArray().at(0).toString().compare(name, Qt::CaseInsensitive) == 0)
            return pair.toArray().at(1).toString();
    return {};
}

} // namespace quendle::testing
