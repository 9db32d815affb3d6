#pragma once

#include "EncoderOptions.h"
#include "RunRequest.h"
#include "RunStep.h"

#include <QString>
#include <memory>

// The steps that runs are made of, each over the worker that does it, in a
// file of its own; BookRun::steps puts them in order for a run.
namespace RunSteps {
// Every file's loudness measured, on every core, at the book's rate and
// channels, and from it the gain that each file is decoded with.
[[nodiscard]] std::unique_ptr<RunStep> measure(const RunWork& run);
// The sources' AAC frames copied into "m4a.m4a" as they are, with no encoder.
[[nodiscard]] std::unique_ptr<RunStep> copy(const RunWork& run);
// Every source decoded to WAV of one rate and channel count, for the encoder.
[[nodiscard]] std::unique_ptr<RunStep> decode(const RunWork& run);
// The MP3 files' bytes joined with cat into "mp3.mp3".
[[nodiscard]] std::unique_ptr<RunStep> join(const RunWork& run);
// The levelled files measured again as the encoder will read them, made
// good where they fall short, and the encoder's own loss given back.
[[nodiscard]] std::unique_ptr<RunStep> level(const RunWork& run);
// The book encoded by ffmpeg, as AAC into "m4a.m4a" (in parts on every
// core when it is long) or as MP3 into "mp3.mp3".
[[nodiscard]] std::unique_ptr<RunStep> encode(const RunWork& run);
// The chapters written into the AAC book by ChapterTool, as "m4b.m4b".
[[nodiscard]] std::unique_ptr<RunStep> chapters(const RunWork& run);
// An MP3 book's own tag, with its chapters, before the joined frames, in
// "mp3-tagged.mp3".
[[nodiscard]] std::unique_ptr<RunStep> mp3Tags(const RunWork& run);
// The AAC book's tags and cover written by AtomicParsley, into
// "m4a-tagged.m4a" or "m4b-tagged.m4b".
[[nodiscard]] std::unique_ptr<RunStep> tags(const RunWork& run);

// The encoder's options for the book whose joined MP3 is at path.
[[nodiscard]] EncoderOptions encoderOptions(const RunWork& run, const QString& path);
} // namespace RunSteps
