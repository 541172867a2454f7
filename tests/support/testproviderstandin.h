#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace quendle::testing {

class TestKnot;

// One of the DNS provider stand-ins of this folder (`kind`standin.py, on providerstandin.py) on a
// free loopback port, HTTPS with the tests' certificate authority, applying what it accepts to
// `knot`'s zone. `values` are KEY=VALUE pairs the stand-in takes (its valid token, …). Sets
// SSL_CERT_FILE to the authority for the test program. Requests that do not follow the
// provider's published shape are answered 400 and listed by failures().
class TestProviderStandIn
{
public:
    TestProviderStandIn(const QString& kind, const TestKnot& knot, const QStringList& values = {},
                        const QStringList& names = {});
    ~TestProviderStandIn();

    bool running() const { return m_port != 0; }
    QString startError() const { return m_error; }
    QString api(const QString& path = {}) const; // https://127.0.0.1:PORT + path

    // What the next requests get: "hang", "garbage", "huge", "unserved" or one of the
    // stand-in's documented errors; `method` and `path` (a regular expression) narrow it.
    void answerWith(const QString& answer, const QString& method = {},
                    const QString& path = {}) const;
    void answerNormally() const;

    // The provider's records (the stand-in's JSON), readable and replaceable by the test.
    QJsonArray records() const;
    void setRecords(const QJsonArray& records) const;

    // Each request so far: "method", "path", "query", "headers" ([name, value] pairs), "body".
    QList<QJsonObject> requests() const;
    static QString header(const QJsonObject& request, const QString& name);
    // What differed from the provider's reference, one line a request.
    QStringList failures() const;
    void forgetRequests() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
    QString m_error;
};

} // namespace quendle::testing
