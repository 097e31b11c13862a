#include "ui/WindowDocHost.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QUrl>

#include "ui/DisplayText.h"
#include "ui/MessageBox.h"
#include "ui/SearchDialog.h"
#include "ui/TarnView.h"

CWindowDocHost::CWindowDocHost(QWidget* pWindow) : m_pWindow(pWindow) {}

CWindowDocHost::~CWindowDocHost() = default;

void CWindowDocHost::ShowMessage(const std::string& strText)
{
    TarnMessageBox(m_pWindow, DisplayText(strText));
}

void CWindowDocHost::SetClipboardText(const std::string& strText)
{
    QGuiApplication::clipboard()->setText(
        QString::fromUtf8(strText.data(), qsizetype(strText.size())));
}

void CWindowDocHost::OpenUrl(const std::string& strUrl)
{
    // The document has percent-encoded every part that needs it.
    QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(strUrl)));
}

void CWindowDocHost::OpenCachedFile(const std::string& strUrl, CFTPSite& site,
                                    const CFTPFile& file)
{
    if (m_openFile)
        m_openFile(strUrl, site, file);
    else
        OpenUrl(strUrl);
}

void CWindowDocHost::ClearList()
{
    if (m_pFileView != nullptr)
        m_pFileView->ClearList();
}

void CWindowDocHost::AppendResultRow(CObject* pEntry, int nType)
{
    if (m_pFileView != nullptr)
        m_pFileView->AppendResultRow(pEntry, nType);
}

void CWindowDocHost::OpenProgress(int nTotal)
{
    m_bStopRequested = false;
    m_pProgress = std::make_unique<CSearchDialog>(m_pWindow);
    m_pProgress->m_nTotal = nTotal;
    QObject::connect(m_pProgress.get(), &CSearchDialog::StopRequested,
                     [this] { m_bStopRequested = true; });
    m_pProgress->adjustSize();
    if (m_pWindow != nullptr)
        m_pProgress->move(m_pWindow->geometry().center() - m_pProgress->rect().center());
    m_pProgress->show();
}

void CWindowDocHost::SetProgressPos(int nPos)
{
    if (m_pProgress)
        m_pProgress->m_nPos = nPos;
}

void CWindowDocHost::CloseProgress()
{
    m_pProgress.reset();
}

void CWindowDocHost::BeginWaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void CWindowDocHost::EndWaitCursor()
{
    QApplication::restoreOverrideCursor();
}

bool CWindowDocHost::PumpWaitingMessages()
{
    if (!m_bStopRequested)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    if (m_bStopRequested)
    {
        // Seen by this walk: the next one starts afresh.
        m_bStopRequested = false;
        return false;
    }
    return !QCoreApplication::closingDown();
}
