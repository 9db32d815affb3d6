// The update feed, as fetched from the web site.
#include "FeedParser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    int ended = 0;
    FeedParser::parse(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)),
                      {.envelopeEnded = [&](const FeedParser::Info&) { ++ended; },
                       .failed = [](const FeedParser::Info&, const QString&) {}});
    (void)ended;
    return 0;
}
