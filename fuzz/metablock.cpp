// The META block and the head rewrite. Whatever the editor's fields hold, the block keeps its
// tags and every line ends in CR LF. The rewrite keeps every byte after the old page's first
// "</head>" and ends its own lines in CR LF; with a generated block, the new page's tags are the
// block's, then "<center>", then the old tail's.

#include "page/metablock.h"
#include "fuzz/fuzzcheck.h"
#include "page/pagehead.h"

using namespace quendle;
using quendle::fuzz::check;
using quendle::fuzz::tagsOf;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    MetaFields fields;
    fields.nofollow = input.ConsumeBool();
    fields.noindex = input.ConsumeBool();
    for (QString* field :
         {&fields.title, &fields.keywords, &fields.description, &fields.revisitAfter,
          &fields.rating, &fields.language, &fields.distribution, &fields.classification,
          &fields.bulletinText, &fields.author})
        *field = quendle::fuzz::nextText(input);
    const QByteArray oldPage = QByteArray::fromStdString(input.ConsumeRemainingBytesAsString());
    const QByteArray shown(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    static const QByteArrayList emptyBlockTags = tagsOf(metaBlock({}).toLatin1());
    const QString block = metaBlock(fields);
    check(tagsOf(block.toUtf8()) == emptyBlockTags, "the META block keeps its tags", shown);
    check(quendle::fuzz::linesEndInCrLf(block.toUtf8()), "every META block line ends in CR LF",
          shown);

    const qsizetype headEnd = oldPage.toLower().indexOf("</head>");
    // The generated block, then any text, as the user may edit the block before Write.
    const QString editorOutputs[] = {block, fields.title};
    for (const QString& html : editorOutputs) {
        const std::optional<QByteArray> page = pageWithNewHead(oldPage, html);
        check(page.has_value() == (headEnd >= 0), "only a page without </head> is refused", shown);
        if (!page)
            continue;
        const QByteArray tail = oldPage.mid(headEnd + qsizetype(sizeof "</head>") - 1);
        check(page->endsWith(tail + "\r\n"), "the old page after </head> is kept", shown);
        check(quendle::fuzz::linesEndInCrLf(page->chopped(tail.size() + 2)),
              "the new head's lines end in CR LF", shown);
        if (&html == &editorOutputs[0])
            check(tagsOf(*page) ==
                      emptyBlockTags + QByteArrayList{"<center>"} + tagsOf(tail + "\r\n"),
                  "the new page's tags are the block's, <center> and the old tail's", shown);
    }
    return 0;
}
