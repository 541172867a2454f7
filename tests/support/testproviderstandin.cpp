#include "testproviderstandin.h"

#include "testcertificates.h"
#include "testfiles.h"
#include "testknot.h"

#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cstdio>

namespace quendle::testing {

TestProviderStandIn::TestProviderStandIn(const QString& kind, const TestKnot& knot,
                                         const QStringList& values, const QStringList& names)
{
    const TestCertificates& certificates = TestCertificates::shared();
    if (!certificates.ok()) {
        m_error = certificates.error();
        return;
    }
    qputenv("SSL_CERT_FILE", certificates.authority().toUtf8());
    QStringList arguments{QStringLiteral(QUENDLE_TEST_SUPPORT_DIR "/") + kind + "standin.py",
                          "--cert",
                          certificates.localhost().certificate,
                          "--key",
                          certificates.localhost().key,
                          "--folder",
                          m_dir.path(),
                          "--knot-port",
                          QString::number(knot.port()),
                          "--tsig",
                          knot.secret()};
    for (const QString& value : values)
        arguments << "--set" << value;
    for (const QString& name : names)
        arguments << "--name" << name;
    m_process.setProgram("/usr/bin/python3");
    m_process.setArguments(QStringList{"-u"} + arguments);
    m_process.setStandardErrorFile(m_dir.filePath("stderr"));
    m_process.start();
    if (!m_process.waitForStarted(10000) || !m_process.waitForReadyRead(15000)) {
        m_error = "the " + kind + " stand-in did not start: " +
                  QString::fromUtf8(readWholeFile(m_dir.filePath("stderr")));
        return;
    }
    const auto match =
        QRegularExpression("port (\\d+)").match(QString::fromLatin1(m_process.readLine()));
    m_port = match.hasMatch() ? match.captured(1).toInt() : 0;
    if (m_port == 0)
        m_error = "the " + kind + " stand-in gave no port";
}

TestProviderStandIn::~TestProviderStandIn()
{
    m_process.kill();
    m_process.waitForFinished(5000);
}

QString TestProviderStandIn::api(const QString& path) const
{
    return QStringLiteral("https://127.0.0.1:%1%2").arg(m_port).arg(path);
}

void TestProviderStandIn::answerWith(const QString& answer, const QString& method,
                                     const QString& path) const
{
    QJsonObject chosen{{"answer", answer}};
    if (!method.isEmpty())
        chosen["method"] = method;
    if (!path.isEmpty())
        chosen["path"] = path;
    replaceWholeFile(m_dir.filePath("switch"), QJsonDocument(chosen).toJson());
}

void TestProviderStandIn::answerNormally() const
{
    QFile::remove(m_dir.filePath("switch"));
}

QJsonArray TestProviderStandIn::records() const
{
    return QJsonDocument::fromJson(readWholeFile(m_dir.filePath("records.json"))).array();
}

void TestProviderStandIn::setRecords(const QJsonArray& records) const
{
    replaceWholeFile(m_dir.filePath("records.json"), QJsonDocument(records).toJson());
}

QList<QJsonObject> TestProviderStandIn::requests() const
{
    QList<QJsonObject> found;
    for (const QByteArray& line : readWholeFile(m_dir.filePath("requests")).split('\n'))
        if (!line.isEmpty())
            found << QJsonDocument::fromJson(line).object();
    return found;
}

QString TestProviderStandIn::header(const QJsonObject& request, const QString& name)
{
    for (const QJsonValue& pair : request.value("headers").toArray())
        if (pair.toArray().at(0).toString().compare(name, Qt::CaseInsensitive) == 0)
            return pair.toArray().at(1).toString();
    return {};
}

QStringList TestProviderStandIn::failures() const
{
    return QString::fromUtf8(readWholeFile(m_dir.filePath("failures")))
        .split('\n', Qt::SkipEmptyParts);
}

void TestProviderStandIn::forgetRequests() const
{
    QFile::remove(m_dir.filePath("requests"));
}

} // namespace quendle::testing
