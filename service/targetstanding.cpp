#include "service/targetstanding.h"

#include <array>
#include <utility>

namespace quendle {

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr std::array<std::pair<Standing, const char*>, 7> kStandingWords{{
    {Standing::Pending, "pending"},
    {Standing::Working, "working"},
    {Standing::Current, "current"},
    {Standing::Unverified, "unverified"},
    {Standing::Failed, "failed"},
    {Standing::Held, "held"},
    {Standing::Stopped, "stopped"},
}};

} // namespace

QString TargetId::text() const
{
    return kindWord(kind) + u' ' + name;
}

QString kindWord(TargetKind kind)
{
    return kind == TargetKind::Name ? u"dns"_s : u"page"_s;
}

std::optional<TargetKind> kindNamed(const QString& word)
{
    if (word == "page"_L1)
        return TargetKind::Page;
    if (word == "dns"_L1)
        return TargetKind::Name;
    return std::nullopt;
}

QString standingWord(Standing standing)
{
    for (const auto& [known, word] : kStandingWords)
        if (known == standing)
            return QString::fromLatin1(word);
    return {};
}

std::optional<Standing> standingNamed(const QString& word)
{
    for (const auto& [known, text] : kStandingWords)
        if (word == QLatin1String(text))
            return known;
    return std::nullopt;
}

StandingCounts StandingCounts::of(const QList<TargetStanding>& targets)
{
    StandingCounts counts;
    for (const TargetStanding& target : targets) {
        const bool page = target.id.kind == TargetKind::Page;
        (page ? counts.pages : counts.names) += 1;
        if (target.current())
            (page ? counts.pagesCurrent : counts.namesCurrent) += 1;
    }
    return counts;
}

QString standingSummary(const QStringList& addresses, const StandingCounts& counts)
{
    if (addresses.isEmpty())
        return u"no address found"_s;
    QStringList parts;
    if (counts.pages > 0 || counts.names == 0)
        parts << u"%1 of %2 pages"_s.arg(counts.pagesCurrent).arg(counts.pages);
    if (counts.names > 0)
        parts << u"%1 of %2 names"_s.arg(counts.namesCurrent).arg(counts.names);
    return u"%1: %2 current"_s.arg(addresses.join(u" and "_s), parts.join(u", "_s));
}

} // namespace quendle
