// The catalogues' answers to a search, led by a byte that picks whose:
// Open Library's or Google Books'.
#include "CatalogueAnswer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QByteArray answer(reinterpret_cast<const char*>(data + 1),
                            static_cast<qsizetype>(size - 1));
    const auto results = data[0] % 2 == 0
                             ? CatalogueAnswer::openLibrary(answer, QStringLiteral("https://c"))
                             : CatalogueAnswer::googleBooks(answer);
    if (!results)
        return 0;
    // What is shown is plain, one line a field, and never more than is taken.
    if (results->size() > CatalogueAnswer::kMostResults)
        __builtin_trap();
    for (const CatalogueResult& result : *results) {
        for (const QString& text : {result.title, result.year, result.publisher, result.isbn}) {
            if (text.contains(u'\n') || text.size() > 500)
                __builtin_trap();
        }
    }
    return 0;
}
