#pragma once
// SIGTERM, SIGINT and SIGHUP (logout, kill, Ctrl-C in a terminal, the
// terminal that started the program closing) turned into a Qt
// signal on the GUI thread, through a pipe the signal handler writes one byte
// into, so the window can close the normal way instead of dying.
//
// Thread: created on the GUI thread; the handler itself runs on any thread.

#include <QObject>

class QSocketNotifier;

class CTerminateSignals : public QObject
{
    Q_OBJECT

public:
    explicit CTerminateSignals(QObject* pParent = nullptr);
    ~CTerminateSignals() override;

    // False when the pipe or the handlers could not be set up.
    bool IsInstalled() const { return m_pNotifier != nullptr; }

signals:
    void Terminate();

private:
    void OnReadable();

    QSocketNotifier* m_pNotifier = nullptr;
};
