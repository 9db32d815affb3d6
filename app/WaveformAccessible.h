#pragma once

#include <QAccessibleWidget>
#include <QHash>

class WaveformStrip;

// What a screen reader finds of the waveform: the strip, whose value is the
// cursor's time, and a child for each mark, read out as its chapter's
// title and start, the chosen one focused.
class WaveformAccessible final : public QAccessibleWidget
{
public:
    explicit WaveformAccessible(WaveformStrip* strip);
    ~WaveformAccessible() override;
    WaveformAccessible(const WaveformAccessible&) = delete;
    WaveformAccessible& operator=(const WaveformAccessible&) = delete;

    // Makes the strips' interfaces this kind; once is enough.
    static void install();
    // The strip's marks have changed: the children made for them are old.
    static void marksChanged(WaveformStrip* strip);

    [[nodiscard]] int childCount() const override;
    [[nodiscard]] QAccessibleInterface* child(int index) const override;
    [[nodiscard]] int indexOfChild(const QAccessibleInterface* child) const override;
    [[nodiscard]] QAccessibleInterface* focusChild() const override;
    [[nodiscard]] QAccessibleInterface* childAt(int x, int y) const override;
    [[nodiscard]] QString text(QAccessible::Text kind) const override;

private:
    [[nodiscard]] WaveformStrip* strip() const;
    void forget() const;

    mutable QHash<int, QAccessible::Id> mChildren;
};
