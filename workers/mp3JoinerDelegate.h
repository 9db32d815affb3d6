#pragma once

#include <exception>

class Mp3Joiner;

// Told of each file the joiner is about to append, and of the end of the join.
class mp3JoinerDelegate
{
public:
    virtual ~mp3JoinerDelegate() = default;
    virtual void mp3JoinProgress(int index, int totalFiles) = 0;
    // joinException is empty on success.
    virtual void mp3JoinDidFinish(Mp3Joiner* joiner, std::exception_ptr joinException) = 0;
};
