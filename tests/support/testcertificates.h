#pragma once

#include <QString>
#include <QTemporaryDir>

namespace quendle::testing {

// A throw-away certificate authority and server certificates it signed, made with openssl once
// per test program.
class TestCertificates
{
public:
    struct Pair
    {
        QString certificate;
        QString key;
    };

    static const TestCertificates& shared();

    bool ok() const { return m_error.isEmpty(); }
    QString error() const { return m_error; }
    QString authority() const { return m_dir.path() + "/ca.crt"; } // the CA's certificate
    Pair localhost() const;                                        // for localhost and 127.0.0.1
    Pair elsewhere() const; // for elsewhere.example only, by the same CA
    // Another authority's certificate, a store that trusts none of the servers.
    QString unrelatedAuthority() const { return m_dir.path() + "/unrelated.crt"; }

private:
    TestCertificates();
    bool run(const QStringList& arguments);
    bool makeServer(const QString& name, const QString& subjectAltName);

    QTemporaryDir m_dir;
    QString m_error;
};

} // namespace quendle::testing
