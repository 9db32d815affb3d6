#pragma once

#include "OutputSettings.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

class DraftBook;
class QComboBox;
class QLineEdit;
class QMainWindow;
class QPushButton;
class SheetDialog;
namespace Ui {
class OutputWindow;
}

// The Make Audiobook sheet: the book's name and format, how it is encoded
// and levelled, and what it says of the chapters. Its choices become the
// draft's settings in one place, from the choices' places, never their words.
class OutputSheet final : public QObject
{
    Q_OBJECT
public:
    OutputSheet(QMainWindow* window, const DraftBook& book, QObject* parent = nullptr);
    ~OutputSheet() override;

    [[nodiscard]] SheetDialog* sheet() const { return mSheet; }
    [[nodiscard]] QLineEdit* name() const;
    [[nodiscard]] QComboBox* rate() const;
    [[nodiscard]] QPushButton* start() const;
    [[nodiscard]] QPushButton* cancel() const;
    // The settings as the sheet asks them now; encoders as given.
    [[nodiscard]] OutputSettings settings(int encoders) const;
    // The bit rate chosen, in kbit/s; none for the source's own.
    [[nodiscard]] std::optional<int> kbps() const;
    // What the sheet says of the chapters: more than players may show, and
    // proposals not taken.
    void showChapterNote();

private:
    void followChoices();

    const DraftBook& mBook;
    std::unique_ptr<Ui::OutputWindow> mUi;
    SheetDialog* mSheet;
};
