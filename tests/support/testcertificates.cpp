#include "testcertificates.h"

#include <QFile>
#include <QProcess>

namespace quendle::testing {

const TestCertificates& TestCertificates::shared()
{
    static const TestCertificates certificates;
    return certificates;
}

TestCertificates::TestCertificates()
{
    const QString ca = m_dir.path() + "/ca";
    if (!run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", ca + ".key", "-out",
              ca + ".crt", "-days", "2", "-subj", "/CN=Quendle Test CA", "-addext",
              "basicConstraints=critical,CA:TRUE", "-addext",
              "keyUsage=critical,keyCertSign,cRLSign"}) ||
        !makeServer("localhost", "DNS:localhost,IP:127.0.0.1") ||
        !makeServer("elsewhere", "DNS:elsewhere.example"))
        return;
    run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", m_dir.path() + "/unrelated.key", "-out", unrelatedAuthority(), "-days", "2",
         "-subj", "/CN=Unrelated CA"});
}

TestCertificates::Pair TestCertificates::localhost() const
{
    return {m_dir.path() + "/localhost.crt", m_dir.path() + "/localhost.key"};
}

TestCertificates::Pair TestCertificates::elsewhere() const
{
    return {m_dir.path() + "/elsewhere.crt", m_dir.path() + "/elsewhere.key"};
}

bool TestCertificates::makeServer(const QString& name, const QString& subjectAltName)
{
    const QString base = m_dir.path() + "/" + name;
    QFile extensions(base + ".ext");
    if (!extensions.open(QIODevice::WriteOnly))
        return false;
    extensions.write(("subjectAltName=" + subjectAltName +
                      "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n")
                         .toUtf8());
    extensions.close();
    const QString ca = m_dir.path() + "/ca";
    return run({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key", "-out",
                base + ".csr", "-subj", "/CN=" + name}) &&
           run({"x509", "-req", "-in", base + ".csr", "-CA", ca + ".crt", "-CAkey", ca + ".key",
                "-CAcreateserial", "-out", base + ".crt", "-days", "2", "-extfile", base + ".ext"});
}

bool TestCertificates::run(const QStringList& arguments)
{
    QProcess openssl;
    openssl.start("openssl", arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
        m_error = "openssl " + arguments.join(' ') + ": " +
                  QString::fromLocal8Bit(openssl.readAllStandardError());
        return false;
    }
    return true;
}

} // namespace quendle::testing
