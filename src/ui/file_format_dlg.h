#pragma once
// The notice that reminds the operator of the ASCII net file's layout before the
// file is chosen. Fixed texts, one OK button. UI thread only.

#include <QDialog>

class CFileFormatDlg : public QDialog {
    Q_OBJECT
public:
    explicit CFileFormatDlg(QWidget* parent = nullptr);
};
