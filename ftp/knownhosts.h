#pragma once

#include "base/expected.h"
#include "ftp/transferclient.h"
#include "ftp/transferurl.h"

#include <QByteArray>
#include <QString>

namespace quendle {

// SSH host keys as OpenSSH shows and stores them. A key is its wire encoding ("blob").

QString defaultKnownHostsFile();               // ~/.ssh/known_hosts
QString sshKeyType(const QByteArray& key);     // "ssh-ed25519", read from the key itself
QString sshFingerprint(const QByteArray& key); // "SHA256:" and the unpadded base64 digest
QByteArray sshKeySha256Base64(const QByteArray& key);
// The name known_hosts gives the server: "host", or "[host]:port" for a port other than 22.
QString knownHostsName(const QString& bareHost, int port);
// One known_hosts line for the key, its host name hashed as ssh's HashKnownHosts does.
QByteArray knownHostsLine(const QString& name, const QByteArray& key);
// Appends one line to the file, creating it and its folder (owner only) when missing. What the
// file holds is never rewritten, so entries the library could not read are not lost.
Expected<void> appendKnownHost(const QString& file, const QByteArray& line);

// What the host key check of one connection saw.
class HostKeyWitness
{
public:
    enum class Match { NotSeen, Known, Unknown, Changed };

    void reset() { *this = {}; }
    void record(Match match, const QByteArray& offered, const QByteArray& knownBase64)
    {
        m_match = match;
        m_offered = offered;
        m_known = QByteArray::fromBase64(knownBase64);
    }
    Match match() const { return m_match; }

    // The question's facts for an unknown key, and the details with what a user can do about it.
    ServerIdentity identity(const ServerAddress& server, const QString& knownHostsFile) const;
    QString unknownDetail(const ServerAddress& server, const QString& knownHostsFile) const;
    // The details for a key that differs from the known one, or from the one accepted earlier
    // in this session when `pinned`.
    QString changedDetail(const ServerAddress& server, const QString& knownHostsFile, bool pinned,
                          const QString& libraryMessage) const;

private:
    Match m_match = Match::NotSeen;
    QByteArray m_offered; // the key the server showed
    QByteArray m_known;   // the key known_hosts holds for it, if any
};

} // namespace quendle
