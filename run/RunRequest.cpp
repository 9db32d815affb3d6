#include "RunRequest.h"

#include "AudioKind.h"

#include <algorithm>

void RunRequest::chooseMethod()
{
    decodes = std::any_of(records.begin(), records.end(),
                          [](const ItemRecordPtr& r) { return AudioKind::isOther(r->pathColumn); });
    const auto& aac = records.isEmpty() ? std::nullopt : records.first()->copyableAac;
    copiesAac = format != BookFormat::Mp3 && !bitRate && !sampleRate && aac &&
                aac->channels == (mono ? 1 : 2) &&
                std::all_of(records.begin(), records.end(),
                            [&](const ItemRecordPtr& r) { return r->copyableAac == aac; });
    decodes = decodes && !copiesAac;
    if (evenVolume != EvenVolume::Off) {
        decodes = true;
        copiesAac = false;
    }
}
