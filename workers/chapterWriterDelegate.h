#pragma once

#include <exception>

class chapterWriter;

// Told of the end of the chapter step, on the chapter writer's thread.
class chapterWriterDelegate
{
public:
    virtual ~chapterWriterDelegate() = default;
    // Part of the protocol; the chapter writer has no progress to tell.
    virtual void chapterWriterProgress(int index, int totalFiles) = 0;
    virtual void chapterWriterDidFinish(chapterWriter* writer,
                                        std::exception_ptr writeException) = 0;
};
