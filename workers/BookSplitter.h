#pragma once

#include "BookTag.h"
#include "WorkerReports.h"

#include <QString>
#include <QStringList>
#include <functional>

// A finished book cut into one file per chapter, without an encode: an MP4
// book's AAC frames copied into .m4a files, an MP3 book's frames into .mp3
// files. Each file carries the book's own tags and cover, the tag's written
// fields over them, the chapter's title and its track number.
namespace BookSplitter {

// Asked after each file whether to stop.
using Stopped = std::function<bool()>;

// Writes a file for each of the tag's chapters into folder, which is made,
// named "NN - Title.ext". An AAC file starts with the frame before its
// chapter's, which the decoder needs and its edit skips, so that each
// plays its chapter's samples exactly; an MP3 file starts at the frame
// nearest its chapter's start. Tells each file as it is done. Returns the
// files' paths. Throws std::runtime_error saying why; then, or when stopped,
// no file is left.
QStringList split(const QString& book, const QString& folder, const BookTag& tag,
                  const WorkerReports& reports = {}, const Stopped& stopped = {});

// The same files in the other form, encoded by ffmpeg at kbps, a chapter
// on each core at once: .mp3 files from an MP4 book, .m4a files from an
// MP3 book. ffmpeg decodes from each chapter's very sample.
QStringList splitEncoded(const QString& book, const QString& folder, const BookTag& tag, int kbps,
                         const WorkerReports& reports = {}, const Stopped& stopped = {});

// "07 - Title.m4a": numbered to the width of the count, with what a file
// name cannot hold replaced.
[[nodiscard]] QString fileName(int number, int count, const QString& title,
                               const QString& extension);

} // namespace BookSplitter
