#pragma once
// Message boxes in the window tests: recorded and answered, never shown.

#include <QList>

#include "ui/MessageBox.h"

class CMessageBoxRecorder
{
public:
    explicit CMessageBoxRecorder(int nAnswer = QMessageBox::Ok)
    {
        m_previous = SetMessageBoxHook(
            [this, nAnswer](const MessageBoxRequest& request)
            {
                m_requests.append(request);
                return nAnswer;
            });
    }
    ~CMessageBoxRecorder() { SetMessageBoxHook(m_previous); }
    CMessageBoxRecorder(const CMessageBoxRecorder&) = delete;
    CMessageBoxRecorder& operator=(const CMessageBoxRecorder&) = delete;

    const QList<MessageBoxRequest>& Requests() const { return m_requests; }
    QString LastText() const
    {
        return m_requests.isEmpty() ? QString() : m_requests.last().strText;
    }

private:
    MessageBoxHook m_previous;
    QList<MessageBoxRequest> m_requests;
};
