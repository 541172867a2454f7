// The links of a page read back, as linkedAddresses() finds them. For any page:
// - each address found is canonical, of either family, and found once;
// - what only looks like a link is no link: the page inside a comment, a script or an attribute
//   value links to nothing;
// - a page links to no more than its text names: the addresses found all appear in it.

#include "address/ipaddresstext.h"
#include "fuzz/fuzzcheck.h"
#include "service/readback.h"

using namespace quendle;
using quendle::fuzz::check;

namespace {

bool canonical(const QString& address)
{
    return canonicalAddress(address, AddressFamily::Ipv4).value_or({}) == address ||
           canonicalAddress(address, AddressFamily::Ipv6).value_or({}) == address;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray page(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QStringList found = linkedAddresses(page);
    for (const QString& address : found) {
        check(canonical(address), "each address is canonical", page);
        check(found.count(address) == 1, "each address is found once", page);
    }
    // The page cannot close a comment, a script or an attribute it holds no end of.
    if (page.contains('\0'))
        return 0;
    if (!page.contains("-->") && !page.contains("--!>") && !page.startsWith('>') &&
        !page.startsWith("->"))
        check(linkedAddresses("<!--" + page + "-->").isEmpty(), "nothing in a comment", page);
    if (!page.toLower().contains("</script"))
        check(linkedAddresses("<script>" + page + "</script>").isEmpty(), "nothing in a script",
              page);
    if (!page.contains('"'))
        check(linkedAddresses("<p title=\"" + page + "\"></p>").isEmpty(),
              "nothing in an attribute value", page);
    return 0;
}
