#pragma once
// The "确定" / "取消" row of the settings dialogs: centred, "确定" the
// default button, the two wired to accept and reject.

class QDialog;
class QHBoxLayout;
class QPushButton;

struct COkCancelRow
{
    QPushButton* pOk = nullptr;
    QPushButton* pCancel = nullptr;
    QHBoxLayout* pLayout = nullptr; // for the dialog's own layout to take
};

COkCancelRow MakeOkCancelRow(QDialog* pDialog);
