#include "ui/OkCancelRow.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>

COkCancelRow MakeOkCancelRow(QDialog* pDialog)
{
    COkCancelRow row;
    row.pOk = new QPushButton(QString::fromUtf8("确定"));
    row.pCancel = new QPushButton(QString::fromUtf8("取消"));
    row.pOk->setObjectName("ok");
    row.pCancel->setObjectName("cancel");
    row.pOk->setDefault(true);
    QObject::connect(row.pOk, &QPushButton::clicked, pDialog, &QDialog::accept);
    QObject::connect(row.pCancel, &QPushButton::clicked, pDialog, &QDialog::reject);
    row.pLayout = new QHBoxLayout;
    row.pLayout->addStretch();
    row.pLayout->addWidget(row.pOk);
    row.pLayout->addSpacing(40);
    row.pLayout->addWidget(row.pCancel);
    row.pLayout->addStretch();
    return row;
}
