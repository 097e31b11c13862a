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

#include <QApplication>
#include <QTimer>
#include <functional>

// Answers the next modal dialog of type T once it is on screen (fn fills it
// and closes it), from a timer while the code under test runs its loop.
template <class T> void AnswerNextDialog(std::function<void(T&)> fn)
{
    auto* pTimer = new QTimer;
    pTimer->setInterval(5);
    QObject::connect(pTimer, &QTimer::timeout,
                     [pTimer, fn]
                     {
                         T* pDialog = qobject_cast<T*>(QApplication::activeModalWidget());
                         if (pDialog == nullptr)
                             return;
                         pTimer->stop();
                         pTimer->deleteLater();
                         fn(*pDialog);
                     });
    pTimer->start();
}
