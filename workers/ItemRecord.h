#pragma once

#include <QIcon>
#include <QList>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

// One row of the item list. The members are named by the keys that identify
// the main table's columns; the joiner adds the last three during a run.
struct ItemRecord
{
    QString pathColumn;
    QString titleColumn;
    QIcon iconColumn;
    QString bitrateColumn;
    QString sampleFrequencyColumn;
    std::optional<QString> symbolicPath;
    std::optional<QString> mins;
    std::optional<QString> secs;
    // The exact playing time in seconds that the file takes in the joined
    // book, and where the audio starts in it (the encoder's delay), measured
    // from the file's frames by the joiner.
    std::optional<double> exactLength;
    std::optional<double> leadIn;
    // The playing length that the list shows, in seconds, once read: none
    // while it is read, or when the file cannot be read (lengthRead).
    std::optional<double> lengthColumn;
    bool lengthRead = false;
    // Why the file cannot be joined ("not an MP3 file"); empty when it can.
    QString problem;

    // A playing time as the list shows it: m:ss, or h:mm:ss from one hour.
    [[nodiscard]] static QString formatLength(double seconds);

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
