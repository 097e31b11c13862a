#include "ui/SearchBox.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSettings>
#include <QShortcut>
#include <QToolButton>
#include <chrono>
#include <shared_mutex>

#include "doc/Ancestry.h"
#include "doc/TarnDoc.h"
#include "model/FTPSite.h"
#include "model/ThreadPriority.h"
#include "search/IndexBuilder.h"
#include "ui/TarnSettings.h"
#include "ui/TarnView.h"

namespace
{
// What the box says.
namespace box_text
{
constexpr const char* PLACEHOLDER = "搜索文件名，如 *.iso size:>700M";
constexpr const char* SCOPE = "仅搜索当前文件夹";
constexpr const char* SCOPE_TIP = "只在左侧选中的文件夹及其子文件夹中搜索";
constexpr const char* TIP = "输入即搜索：多个词须全部匹配，a|b 任一，!a 排除，\"a b\" 原样，"
                            "*.iso 通配，ext:iso size:>700M path: site: unread: regex:";
constexpr const char* SEARCHING = "正在搜索...";
constexpr const char* FOUND = "找到 %1 项，用时 %2 毫秒";
constexpr const char* UNREADABLE = "无法理解的查询：%1";
} // namespace box_text

const char* const SETTING_HISTORY = "SearchBox/history";
// How long one turn of the event loop hands matches to the list.
constexpr auto DRAIN_BUDGET = std::chrono::milliseconds(8);

QString Text(const char* psz)
{
    return QString::fromUtf8(psz);
}

// 1234567 -> "1,234,567", as the status bar counts.
QString Grouped(uint64_t n)
{
    QString str = QString::number(n);
    for (int i = str.size() - 3; i > 0; i -= 3)
        str.insert(i, QLatin1Char(','));
    return str;
}
} // namespace

// Queues a search's matches for the GUI thread. Called with the hits' tree
// lock held, so an update cannot have removed them before they are queued:
// their removal notice comes after, and ForgetEntries finds them here.
class CSearchBox::CSink : public ISearchSink
{
public:
    CSink(CSearchBox& box, uint64_t nGeneration, const std::atomic<bool>& stop)
        : m_box(box), m_nGeneration(nGeneration), m_stop(stop)
    {
    }

    bool OnHits(std::span<const CSearchHit> hits) override
    {
        bool bAsk = false;
        {
            std::lock_guard lock(m_box.m_queueLock);
            if (m_box.m_nQueueGeneration != m_nGeneration)
                return false;
            m_box.m_queue.insert(m_box.m_queue.end(), hits.begin(), hits.end());
            bAsk = !m_box.m_bDrainAsked;
            m_box.m_bDrainAsked = true;
        }
        if (bAsk)
            QMetaObject::invokeMethod(&m_box, &CSearchBox::Drain, Qt::QueuedConnection);
        return !m_stop.load();
    }

private:
    CSearchBox& m_box;
    uint64_t m_nGeneration;
    const std::atomic<bool>& m_stop;
};

CSearchBox::CSearchBox(CTarnDoc& doc, CTarnView& view, QWidget* pShortcutScope, QWidget* pParent)
    : QWidget(pParent), m_doc(doc), m_view(view), m_pCombo(new QComboBox(this)),
      m_pScope(new QToolButton(this)), m_pBuilder(std::make_unique<CIndexBuilder>())
{
    setObjectName("searchBox");
    m_pCombo->setObjectName("searchCombo");
    m_pCombo->setEditable(true);
    m_pCombo->setInsertPolicy(QComboBox::NoInsert);
    m_pCombo->setMaxCount(HISTORY_SIZE);
    m_pCombo->setCompleter(nullptr); // no inline completion while a search follows each key
    m_pCombo->setMinimumContentsLength(28);
    m_pCombo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_pCombo->lineEdit()->setPlaceholderText(Text(box_text::PLACEHOLDER));
    m_pCombo->lineEdit()->setClearButtonEnabled(true);
    m_pCombo->setToolTip(Text(box_text::TIP));
    m_pCombo->lineEdit()->installEventFilter(this);
    m_pScope->setObjectName("searchScope");
    m_pScope->setText(Text(box_text::SCOPE));
    m_pScope->setToolTip(Text(box_text::SCOPE_TIP));
    m_pScope->setCheckable(true);
    m_pScope->setToolButtonStyle(Qt::ToolButtonTextOnly);

    auto* pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(4, 0, 4, 0);
    pLayout->setSpacing(4);
    pLayout->addWidget(m_pCombo, 1);
    pLayout->addWidget(m_pScope);

    m_typingTimer.setSingleShot(true);
    m_typingTimer.setInterval(TYPING_PAUSE_MS);
    connect(&m_typingTimer, &QTimer::timeout, this, &CSearchBox::StartSearch);
    connect(m_pCombo, &QComboBox::editTextChanged, this, &CSearchBox::OnTextEdited);
    connect(m_pScope, &QToolButton::toggled, this, &CSearchBox::OnTextEdited);
    connect(m_pCombo->lineEdit(), &QLineEdit::returnPressed, this,
            [this]
            {
                m_typingTimer.stop();
                StartSearch();
                RememberQuery();
            });
    auto* pFind = new QShortcut(QKeySequence::Find, pShortcutScope);
    connect(pFind, &QShortcut::activated, this, &CSearchBox::FocusBox);
    LoadHistory();
}

CSearchBox::~CSearchBox()
{
    Shutdown();
}

void CSearchBox::FocusBox()
{
    m_pCombo->setFocus(Qt::ShortcutFocusReason);
    m_pCombo->lineEdit()->selectAll();
    // Sites load and get their indexes while the user types.
    if (m_pBuilder == nullptr)
        return;
    for (const auto& pSite : m_doc.m_siteList)
        m_pBuilder->Request(pSite.get());
}

bool CSearchBox::eventFilter(QObject* pObject, QEvent* pEvent)
{
    if (pObject == m_pCombo->lineEdit())
    {
        if (pEvent->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(pEvent)->key() == Qt::Key_Escape)
        {
            Clear();
            return true;
        }
        if (pEvent->type() == QEvent::FocusOut)
            RememberQuery();
    }
    return QWidget::eventFilter(pObject, pEvent);
}

void CSearchBox::OnTextEdited()
{
    // The list and the status bar no longer answer what the box says.
    Cancel();
    emit StatusText(QString());
    m_typingTimer.start();
}

void CSearchBox::Clear()
{
    m_typingTimer.stop();
    bool bWasShowing = m_bShowing;
    Cancel();
    {
        QSignalBlocker block(m_pCombo);
        m_pCombo->setEditText(QString());
    }
    if (bWasShowing)
    {
        m_view.m_bResultMode = false;
        m_view.ShowBrowseListing();
    }
    emit StatusText(QString());
}

void CSearchBox::Cancel()
{
    ++m_nGeneration;
    {
        std::lock_guard lock(m_queueLock);
        m_nQueueGeneration = m_nGeneration;
        m_queue.clear();
    }
    StopAll(false);
}

void CSearchBox::StopAll(bool bWait)
{
    for (CRunning& running : m_running)
        running.pStop->store(true);
    if (bWait)
    {
        for (CRunning& running : m_running)
            running.thread.join();
        m_running.clear();
    }
    else
        JoinFinished();
}

void CSearchBox::JoinFinished()
{
    std::erase_if(m_running,
                  [](CRunning& running)
                  {
                      if (!running.pFinished->load())
                          return false;
                      running.thread.join();
                      return true;
                  });
}

void CSearchBox::StartSearch()
{
    QString strText = m_pCombo->currentText();
    if (strText.trimmed().isEmpty())
    {
        Clear();
        return;
    }
    if ((m_fnCanSearch && !m_fnCanSearch()) || m_pBuilder == nullptr)
        return;
    CQueryError error;
    std::shared_ptr<const CQuery> pQuery = CQuery::Parse(strText.toStdString(), &error);
    if (pQuery == nullptr)
    {
        emit StatusText(
            Text(box_text::UNREADABLE).arg(QString::fromStdString(FormatQueryError(error, true))));
        return;
    }
    Cancel();
    uint64_t nGeneration = m_nGeneration;

    CSearchRequest request;
    request.pQuery = pQuery;
    CFTPDir* pScope = m_pScope->isChecked() && m_fnSelectedFolder ? m_fnSelectedFolder() : nullptr;
    CFTPSite* pScopeSite = pScope != nullptr ? pScope->GetSite() : nullptr;
    for (const auto& pSite : m_doc.m_siteList)
    {
        m_pBuilder->Request(pSite.get());
        if (pScopeSite == nullptr || pSite.get() == pScopeSite)
            request.sites.push_back(MakeSearchSite(*pSite));
    }
    if (pScopeSite != nullptr)
        request.pScope = pScope;

    m_doc.StartFoundListing();
    m_bShowing = true;
    emit StatusText(Text(box_text::SEARCHING));

    CRunning running;
    running.pStop = std::make_shared<std::atomic<bool>>(false);
    running.pFinished = std::make_shared<std::atomic<bool>>(false);
    running.thread = std::thread(
        [this, request = std::move(request), nGeneration, pStop = running.pStop,
         pFinished = running.pFinished]
        {
            GiveWayToOtherThreads();
            auto start = std::chrono::steady_clock::now();
            CSink sink(*this, nGeneration, *pStop);
            CSearchStats stats = RunNameSearch(request, sink, *pStop);
            qint64 nMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
            QMetaObject::invokeMethod(
                this,
                [this, nGeneration, nFound = stats.nFound, nMs]
                { OnSearchDone(nGeneration, nFound, nMs); },
                Qt::QueuedConnection);
            pFinished->store(true);
        });
    m_running.push_back(std::move(running));
}

void CSearchBox::Drain()
{
    auto deadline = std::chrono::steady_clock::now() + DRAIN_BUDGET;
    for (;;)
    {
        std::vector<CSearchHit> hits;
        {
            std::lock_guard lock(m_queueLock);
            if (m_queue.empty() || m_nQueueGeneration != m_nGeneration)
            {
                m_queue.clear();
                m_bDrainAsked = false;
                return;
            }
            size_t n = std::min<size_t>(m_queue.size(), 256);
            hits.assign(m_queue.begin(), m_queue.begin() + static_cast<ptrdiff_t>(n));
            m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<ptrdiff_t>(n));
        }
        // A row reads its file's size, which the update worker may change:
        // under the site's lock, taken once per run of one site's hits.
        for (size_t i = 0; i < hits.size();)
        {
            CFTPSite* pSite = hits[i].pSite;
            std::shared_lock lock(pSite->m_treeLock);
            for (; i < hits.size() && hits[i].pSite == pSite; ++i)
                m_doc.AppendFound(hits[i].pEntry, hits[i].nType);
        }
        if (std::chrono::steady_clock::now() >= deadline)
        {
            // The rest at the next turn, so the window stays alive.
            QTimer::singleShot(0, this, &CSearchBox::Drain);
            return;
        }
    }
}

void CSearchBox::OnSearchDone(uint64_t nGeneration, uint64_t nFound, qint64 nMs)
{
    JoinFinished();
    if (nGeneration == m_nGeneration)
        emit StatusText(Text(box_text::FOUND).arg(Grouped(nFound)).arg(nMs));
}

void CSearchBox::ForgetEntries(const CSubtreeSet& removed)
{
    std::lock_guard lock(m_queueLock);
    std::erase_if(m_queue,
                  [&removed](const CSearchHit& hit)
                  {
                      return hit.nType == 1 ? removed.Covers(static_cast<CFTPDir*>(hit.pEntry))
                                            : removed.Covers(static_cast<CFTPFile*>(hit.pEntry));
                  });
}

void CSearchBox::ForgetSite(CFTPSite* pSite)
{
    Cancel();
    StopAll(true);
    if (m_pBuilder != nullptr)
        m_pBuilder->Forget(pSite);
}

void CSearchBox::OnSiteUpdated(CFTPSite* pSite)
{
    if (m_pBuilder != nullptr && pSite->IsLoaded() && !IsSiteBusy(*pSite))
        m_pBuilder->Request(pSite);
}

void CSearchBox::Shutdown()
{
    m_typingTimer.stop();
    Cancel();
    StopAll(true);
    m_pBuilder.reset(); // stops its build and ends its thread
}

bool CSearchBox::IsIdle() const
{
    std::lock_guard lock(m_queueLock);
    for (const CRunning& running : m_running)
    {
        if (!running.pFinished->load())
            return false;
    }
    return m_queue.empty();
}

void CSearchBox::RememberQuery()
{
    QString strText = m_pCombo->currentText().trimmed();
    if (strText.isEmpty())
        return;
    QSignalBlocker block(m_pCombo);
    int nOld = m_pCombo->findText(strText);
    if (nOld >= 0)
        m_pCombo->removeItem(nOld);
    m_pCombo->insertItem(0, strText);
    while (m_pCombo->count() > HISTORY_SIZE)
        m_pCombo->removeItem(m_pCombo->count() - 1);
    m_pCombo->setCurrentIndex(0);
    SaveHistory();
}

void CSearchBox::LoadHistory()
{
    QSettings settings(TarnSettingsOrganization(), TarnSettingsApplication());
    QStringList history = settings.value(SETTING_HISTORY).toStringList();
    QSignalBlocker block(m_pCombo);
    for (const QString& strQuery : history.mid(0, HISTORY_SIZE))
        m_pCombo->addItem(strQuery);
    m_pCombo->setCurrentIndex(-1);
    m_pCombo->setEditText(QString());
}

void CSearchBox::SaveHistory() const
{
    QStringList history;
    for (int i = 0; i < m_pCombo->count(); ++i)
        history << m_pCombo->itemText(i);
    QSettings settings(TarnSettingsOrganization(), TarnSettingsApplication());
    settings.setValue(SETTING_HISTORY, history);
}
