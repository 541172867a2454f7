#include "ftp/knownhosts.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QtEndian>

namespace quendle {

namespace {

// "ssh-ed25519" -> "ed25519", the type names ssh-keyscan's -t option takes.
QString keyscanType(const QString& type)
{
    if (type.startsWith(QLatin1String("ecdsa-")))
        return QStringLiteral("ecdsa");
    if (type.startsWith(QLatin1String("ssh-")))
        return type.mid(4);
    return type;
}

} // namespace

QString defaultKnownHostsFile()
{
    return QDir::homePath() + QStringLiteral("/.ssh/known_hosts");
}

QString sshKeyType(const QByteArray& key)
{
    // The encoding begins with the type name as a 32-bit length and its bytes.
    if (key.size() < 4)
        return QStringLiteral("unknown");
    const quint32 length = qFromBigEndian<quint32>(key.constData());
    if (length == 0 || length > 64 || length > static_cast<quint32>(key.size() - 4))
        return QStringLiteral("unknown");
    return QString::fromLatin1(key.mid(4, static_cast<qsizetype>(length)));
}

QByteArray sshKeySha256Base64(const QByteArray& key)
{
    return QCryptographicHash::hash(key, QCryptographicHash::Sha256).toBase64();
}

QString sshFingerprint(const QByteArray& key)
{
    QByteArray digest = QCryptographicHash::hash(key, QCryptographicHash::Sha256)
                            .toBase64(QByteArray::OmitTrailingEquals);
    return QStringLiteral("SHA256:") + QString::fromLatin1(digest);
}

QString knownHostsName(const QString& bareHost, int port)
{
    return port == 22 ? bareHost : QStringLiteral("[%1]:%2").arg(bareHost).arg(port);
}

QByteArray knownHostsLine(const QString& name, const QByteArray& key)
{
    QByteArray salt(20, '\0');
    QRandomGenerator::system()->generate(salt.begin(), salt.end());
    const QByteArray hash =
        QMessageAuthenticationCode::hash(name.toUtf8(), salt, QCryptographicHash::Sha1);
    return "|1|" + salt.toBase64() + '|' + hash.toBase64() + ' ' + sshKeyType(key).toLatin1() +
           ' ' + key.toBase64() + '\n';
}

Expected<void> appendKnownHost(const QString& file, const QByteArray& line)
{
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDir(folder).exists()) {
        if (!QDir().mkpath(folder))
            return Unexpected(QStringLiteral("the folder %1 cannot be created").arg(folder));
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QFile out(file);
    if (!out.open(QIODevice::ReadWrite | QIODevice::Append))
        return Unexpected(out.errorString());
    // A last line without its line break would otherwise run into the new one.
    QByteArray text = line;
    if (out.size() > 0) {
        out.seek(out.size() - 1);
        if (out.read(1) != "\n")
            text.prepend('\n');
    }
    if (out.write(text) != text.size() || !out.flush())
        return Unexpected(out.errorString());
    return {};
}

ServerIdentity HostKeyWitness::identity(const ServerAddress& server,
                                        const QString& knownHostsFile) const
{
    const QString description = QStringLiteral("The host key of %1 is not in %2.\n\n"
                                               "Key type: %3\nFingerprint: %4")
                                    .arg(server.authority(), knownHostsFile, sshKeyType(m_offered),
                                         sshFingerprint(m_offered));
    return {ServerIdentity::Kind::HostKey, server.authority(), description, m_offered};
}

QString HostKeyWitness::unknownDetail(const ServerAddress& server,
                                      const QString& knownHostsFile) const
{
    return identity(server, knownHostsFile).description +
           QStringLiteral("\n\nIf the server's administrator confirms this fingerprint, add the "
                          "key with:\n  ssh-keyscan -p %1 -t %2 %3 >> %4")
               .arg(QString::number(server.port), keyscanType(sshKeyType(m_offered)),
                    server.bareHost(), knownHostsFile);
}

QString HostKeyWitness::changedDetail(const ServerAddress& server, const QString& knownHostsFile,
                                      bool pinned, const QString& libraryMessage) const
{
    if (pinned)
        return QStringLiteral("The host key of %1 is not the one accepted earlier in this "
                              "session: %2")
            .arg(server.authority(), libraryMessage);
    return QStringLiteral("The host key of %1 differs from the one in %2. Someone may be "
                          "posing as the server, or its key was replaced.\n\n"
                          "Known fingerprint: %3 (%4)\nOffered fingerprint: %5 (%6)\n\n"
                          "Only if the server's administrator confirms the new key, remove the "
                          "old one with:\n  ssh-keygen -R '%7' -f %2\nthen connect again.")
        .arg(server.authority(), knownHostsFile, sshFingerprint(m_known), sshKeyType(m_known),
             sshFingerprint(m_offered), sshKeyType(m_offered),
             knownHostsName(server.bareHost(), server.port));
}

} // namespace quendle
