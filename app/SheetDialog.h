#pragma once

#include <QDialog>

// A sheet over the main window. The progress sheet is closed only by the run,
// not by Escape or the window's close button.
class SheetDialog : public QDialog
{
    Q_OBJECT
public:
    explicit SheetDialog(QWidget* parent) : QDialog(parent) { setWindowModality(Qt::WindowModal); }
    void setUserClosable(bool closable) { mUserClosable = closable; }
    void reject() override
    {
        if (mUserClosable)
            QDialog::reject();
    }

private:
    bool mUserClosable = true;
};
