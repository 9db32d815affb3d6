#include "RunRequest.h"

#include "AudioKind.h"

#include <algorithm>

int RunRequest::decodedRate() const
{
    if (sampleRate && sampleRate->toInt() > 0)
        return sampleRate->toInt();
    const int first = files.isEmpty() ? 0 : files.first().sampleFrequencyColumn.toInt();
    return first > 0 ? first : 44100;
}

// Any source that is not MP3 is decoded, unless every one is AAC alike and
// kept as it is, when its frames are copied; a levelled book is decoded.
RunWork::RunWork(RunRequest asked) : request(std::move(asked))
{
    for (const ItemRecord& file : std::as_const(request.files))
        records.append(std::make_shared<ItemRecord>(file));
    const QList<ItemRecord>& files = request.files;
    decodes = std::any_of(files.begin(), files.end(),
                          [](const ItemRecord& r) { return AudioKind::isOther(r.pathColumn); });
    const auto& aac = files.isEmpty() ? std::nullopt : files.first().copyableAac;
    copiesAac = request.format != BookFormat::Mp3 && !request.bitRate && !request.sampleRate &&
                aac && aac->channels == (request.mono ? 1 : 2) &&
                std::all_of(files.begin(), files.end(),
                            [&](const ItemRecord& r) { return r.copyableAac == aac; });
    decodes = decodes && !copiesAac;
    if (request.evenVolume != EvenVolume::Off) {
        decodes = true;
        copiesAac = false;
    }
}

QStringList RunWork::sourcePaths() const
{
    QStringList paths;
    for (const ItemRecordPtr& record : records)
        paths << record->pathColumn;
    return paths;
}

QList<ItemRecord> RunWork::learned() const
{
    QList<ItemRecord> files;
    for (const ItemRecordPtr& record : records)
        files.append(*record);
    return files;
}
