#pragma once

#include "SourceTags.h"

#include <QIcon>
#include <QList>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

// One row of the item list. The members that end in "Column" are named by
// the keys that identify the main table's columns. The details (rates,
// length, problem, tags) are read in the background after the row is
// listed; the joiner fills in the link, playing time and exact length.
struct ItemRecord
{
    QString pathColumn;
    QString titleColumn;
    QIcon iconColumn;
    QString bitrateColumn;
    QString sampleFrequencyColumn;
    // The link to the file that the join reads, and the playing time that
    // mp3info gave it then.
    std::optional<QString> symbolicPath;
    std::optional<QString> mins;
    std::optional<QString> secs;
    // What a decoder gives of the file, measured from its frames by the
    // joiner, and where the file's own audio starts among those samples.
    // In an MP3 book, which plays the files' bytes joined, the file takes
    // joinedSamples, its audio starting joinedLeadIn samples in.
    struct Exact
    {
        qint64 samples = 0;
        qint64 leadIn = 0;
        int sampleRate = 0;
        qint64 joinedSamples = 0;
        qint64 joinedLeadIn = 0;
        [[nodiscard]] double seconds() const;
        [[nodiscard]] double leadInSeconds() const;
    };
    std::optional<Exact> exact;
    // The playing length that the list shows, in seconds, once read: none
    // while it is read, or when the file cannot be read (lengthRead).
    std::optional<double> lengthColumn;
    bool lengthRead = false;
    // Why the file cannot be joined ("not an MP3 file"); empty when it can.
    QString problem;
    // What the file's own tags say, read with its length.
    SourceTags tags;
    // The chapters that the file carries itself, from its start: its own
    // marks, or a CUE sheet's beside it.
    using InnerChapter = ChapterMark;
    QList<InnerChapter> innerChapters;
    // The chapters that start in the file, as the user left them, in the
    // order they play; none while they are the file's own (chapterStarts()).
    // A title left empty is the file's title at its start, and "Chapter N"
    // by its place in the book further in.
    std::optional<QList<ChapterMark>> editedChapters;
    // Starts proposed by a search for silence, not yet taken or dropped.
    QList<ChapterMark> proposals;
    // What the user can change of a record: its title and chapters. Undo
    // and Redo put them back; what the file's own details say stays.
    struct Edits
    {
        QString title;
        std::optional<QList<ChapterMark>> chapters;
        QList<ChapterMark> proposals;
        friend bool operator==(const Edits&, const Edits&) = default;
    };
    [[nodiscard]] Edits edits() const { return {titleColumn, editedChapters, proposals}; }
    void setEdits(const Edits& edits)
    {
        titleColumn = edits.title;
        editedChapters = edits.chapters;
        proposals = edits.proposals;
    }
    // The chapters that start in the file: as edited, else its own marks,
    // else one at its start.
    [[nodiscard]] QList<ChapterMark> chapterStarts() const;
    // The file continues the chapter before it: no chapter starts where it does.
    [[nodiscard]] bool continuesChapter() const;
    // What the list says of the file's own chapters, as a sentence: how many
    // it has, and how many of its marks were dropped. Empty without marks.
    QString chapterNote;
    // The marks that can stand as the file's chapters, each inside the file
    // and after the one before; none unless two or more stand. The note
    // says what was kept and what was dropped.
    [[nodiscard]] static QList<InnerChapter> chaptersFromMarks(const ChapterMarks& marks,
                                                               std::optional<double> length,
                                                               QString& note);
    // An MP4 file's AAC audio, whose frames a book may take as they are:
    // files with the same configuration can follow one another in one track.
    struct CopyableAac
    {
        QByteArray audioConfig;
        int channels = 0;
        friend bool operator==(const CopyableAac&, const CopyableAac&) = default;
    };
    std::optional<CopyableAac> copyableAac;
    // The file's integrated loudness in LUFS, once a levelled run has
    // measured it at its book's rate and channels; -infinity for silence.
    std::optional<double> loudness;

    // A file's title from its path: its name without the extension.
    [[nodiscard]] static QString titleForPath(const QString& path);

    // A playing time as the list shows it: m:ss, or h:mm:ss from one hour.
    [[nodiscard]] static QString formatLength(double seconds);
    // The problem of a file that holds less audio than its header says.
    [[nodiscard]] static QString cutShortProblem(double present, double promised);

    // The value under a key, or an invalid QVariant when the record has no such key.
    [[nodiscard]] QVariant valueForKey(QStringView key) const;

    // Every key and value, icon included, for carrying a row move.
    [[nodiscard]] QByteArray serialized() const;
    [[nodiscard]] static std::optional<ItemRecord> deserialized(const QByteArray& bytes);
};

// The item list shares its records with the joiner's list, which writes the
// playing times into them.
using ItemRecordPtr = std::shared_ptr<ItemRecord>;
using ItemList = QList<ItemRecordPtr>;
