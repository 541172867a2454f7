// The page builders: whatever the address and the e-mail field hold, the page keeps its shape
// (every tag and every text outside attribute values as with empty fields) and every line of the
// page file ends in CR LF.

#include "fuzz/fuzzcheck.h"
#include "page/pagetext.h"
#include "page/productsettings.h"

using namespace quendle;
using quendle::fuzz::check;
using quendle::fuzz::withoutAttributeValues;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const QString address = quendle::fuzz::nextText(input);
    const QString email = quendle::fuzz::remainingText(input);
    const QByteArray shown = address.toUtf8() + "\\ " + email.toUtf8();

    // Save always writes the default banner.
    static const QByteArray emptyOnline = onlinePage({}, {}, defaultBanner());
    static const QByteArray emptyOffline = offlinePage({});
    static const QByteArray emptyPreview = toPageBytes(pagePreview({}, {}));

    const QByteArray online = onlinePage(address, email, defaultBanner());
    check(withoutAttributeValues(online) == withoutAttributeValues(emptyOnline),
          "the online page keeps its shape", shown);
    check(quendle::fuzz::linesEndInCrLf(online), "every online page line ends in CR LF", shown);

    const QByteArray offline = offlinePage(email);
    check(withoutAttributeValues(offline) == withoutAttributeValues(emptyOffline),
          "the offline page keeps its shape", shown);
    check(quendle::fuzz::linesEndInCrLf(offline), "every offline page line ends in CR LF", shown);

    // The preview has no line end after its last line.
    const QByteArray preview = toPageBytes(pagePreview(address, email));
    check(withoutAttributeValues(preview) == withoutAttributeValues(emptyPreview),
          "the preview keeps its shape", shown);
    check(quendle::fuzz::linesEndInCrLf(preview + "\r\n"), "every preview line ends in CR LF",
          shown);
    return 0;
}
