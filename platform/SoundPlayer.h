#pragma once

// The completion sound. Playing returns at once; a sound that could not be
// made plays as silence.
class SoundPlayer
{
public:
    virtual ~SoundPlayer() = default;
    virtual void play() = 0;
};
