#pragma once

#include "EncodePlan.h"
#include "EncoderOptions.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The ffmpeg command lines that encode a book as AAC, and the lists of
// files that they read. Each drops the sources' own tags: the book's are
// the user's, written later.
namespace EncoderCommand {

// What an encoder reads: one file as it stands, or a list of files for
// ffmpeg's concat demuxer (see concatList).
struct Input
{
    QString path;
    bool isList = false;
};

// The whole book at once, into an .m4a at `output`, or with LAME into an
// .mp3 when `mp3`.
[[nodiscard]] QString whole(const QString& tool, const Input& input,
                            const EncoderOptions& options, const QString& output, bool mp3 = false);

// One part of a split encode (see EncodePlan), as raw ADTS frames at `output`.
[[nodiscard]] QString part(const QString& tool, const Input& input, const EncoderOptions& options,
                           const EncodePart& part, int outputRate, const QString& output);

// A "file" line for each path, in order, for ffmpeg's concat demuxer.
[[nodiscard]] QByteArray concatList(const QStringList& paths);

} // namespace EncoderCommand
