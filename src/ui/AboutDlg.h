#pragma once
// "关于 Tarn": the application icon, the product name and version, the About
// picture and where the project lives. Only an OK button. GUI thread only.

#include <QDialog>

class CAboutDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* pParent = nullptr);
};
