#pragma once

#include <QString>
#include <exception>

class Mp3Converter;

// Told of the encoder's position and of the end of the conversion. Both come
// on the converter's own threads.
class mp3ConverterDelegate
{
public:
    virtual ~mp3ConverterDelegate() = default;
    virtual void mp3ConverterProgress(double position, const QString& description) = 0;
    virtual void mp3ConverterDidFinish(Mp3Converter* converter,
                                       std::exception_ptr convertException) = 0;
};
