#pragma once

#include <QString>
#include <exception>

class M4bTagger;

// Told of the tagging tool's progress and of the end of tagging, on the
// tagger's thread (or the caller's, when there was nothing to tag).
class M4bTaggerDelegate
{
public:
    virtual ~M4bTaggerDelegate() = default;
    virtual void M4bTaggerProgress(double value, const QString& description) = 0;
    virtual void M4bTaggerDidFinish(M4bTagger* tagger, std::exception_ptr convertException) = 0;
};
