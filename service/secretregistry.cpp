#include "service/secretregistry.h"

#include <mutex>
#include <set>

namespace quendle {

namespace {

// Longest first, secrets of equal length in any fixed order.
struct LongestFirst
{
    bool operator()(const QString& a, const QString& b) const
    {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    }
};

struct Registry
{
    std::mutex lock;
    std::set<QString, LongestFirst> secrets;
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
    known.secrets.insert(secret);
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
