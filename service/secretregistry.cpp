#include "service/secretregistry.h"

#include <QStringList>

#include <algorithm>
#include <mutex>

namespace quendle {

namespace {

struct Registry
{
    std::mutex lock;
    QStringList secrets; // longest first
};

Registry& registry()
{
    static Registry instance;
    return instance;
}

} // namespace

void registerSecret(const QString& secret)
{
    if (secret.isEmpty())
        return;
    Registry& known = registry();
    const std::lock_guard guard(known.lock);
    if (known.secrets.contains(secret))
        return;
    const auto place =
        std::find_if(known.secrets.begin(), known.secrets.end(),
                     [&](const QString& other) { return other.size() < secret.size(); });
    known.secrets.insert(place, secret);
}

QString redactSecrets(const QString& text)
{
    Registry& known = registry();
    const std::lock_guard guard(known.lock);
    QString shown = text;
    for (const QString& secret : known.secrets)
        shown.replace(secret, QStringLiteral("***"));
    return shown;
}

} // namespace quendle
