#pragma once
// A pre-order walk over part of one site's tree that the update worker may
// change while the walk pauses to pump events.
//
// The walk holds the site's tree lock (shared to read, exclusive to clear
// marks) only between pumps. It keeps its position as a stack of folders with
// indices, never as iterators; after every pump it checks from the root down
// that each folder on the stack is still held by the folder above it, before
// it touches it again. A folder that is gone ends the walk of that branch (a
// removed entry may already be freed, so its address is only compared). An
// index that an update shifted is taken as it is now (clamped to the list).
//
// Thread: the GUI thread.

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <type_traits>
#include <vector>

#include "doc/PumpBudget.h"
#include "model/FTPSite.h"

// Visitor: bool VisitDir(CFTPDir&) (true: walk into it), void VisitFile(CFTPFile&).
template <bool bExclusive, class Visitor> class CTreeWalk
{
public:
    CTreeWalk(CFTPSite& site, CPumpBudget& pump, Visitor& visitor)
        : m_site(site), m_pump(pump), m_visitor(visitor)
    {
    }

    // Visits the sub-folders of pDir (each, then what is below it unless the
    // visitor declines) and then pDir's files; pDir itself first when
    // bVisitSelf. False when a pump answered stop.
    bool Run(CFTPDir* pDir, bool bVisitSelf)
    {
        Lock lock(m_site.m_treeLock);
        if (!Anchor(pDir))
            return true; // no longer part of the site's tree
        if (bVisitSelf)
        {
            bool bDescend = m_visitor.VisitDir(*pDir);
            if (!bDescend)
                return !m_pump.Tick() || Pause(lock);
        }
        m_frames.push_back({pDir, 0, 0, m_nSelfIndex});
        if (bVisitSelf && m_pump.Tick() && !Pause(lock))
            return false;

        while (m_frames.size() > m_nAnchors)
        {
            Frame& top = m_frames.back();
            CFTPDir* pTop = top.pDir;
            if (top.nDir < pTop->m_dirList.size())
            {
                size_t nIndex = top.nDir++;
                CFTPDir* pSub = pTop->m_dirList[nIndex].get();
                if (m_visitor.VisitDir(*pSub))
                    m_frames.push_back({pSub, 0, 0, nIndex});
            }
            else if (top.nFile < pTop->m_fileList.size())
            {
                m_visitor.VisitFile(*pTop->m_fileList[top.nFile++]);
            }
            else
            {
                m_frames.pop_back();
                continue;
            }
            if (m_pump.Tick() && !Pause(lock))
                return false;
        }
        return true;
    }

private:
    using Lock = std::conditional_t<bExclusive, std::unique_lock<std::shared_mutex>,
                                    std::shared_lock<std::shared_mutex>>;

    struct Frame
    {
        CFTPDir* pDir;
        size_t nDir;   // next sub-folder to visit
        size_t nFile;  // next file to visit
        size_t nIndex; // position in the parent's m_dirList
    };

    // Stacks the folders from the root down to pDir's parent as anchors (not
    // walked, only checked). False when pDir is not linked into the tree.
    bool Anchor(CFTPDir* pDir)
    {
        std::vector<CFTPDir*> chain;
        CFTPDir* pTop = pDir;
        for (; pTop->m_pParent != nullptr; pTop = pTop->m_pParent)
            chain.push_back(pTop);
        if (pTop != m_site.m_pRoot.get())
            return false;
        m_frames.clear();
        m_nSelfIndex = 0;
        CFTPDir* pParent = pTop;
        for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        {
            size_t nIndex = IndexIn(*pParent, *it, 0);
            if (nIndex == npos)
                return false;
            m_frames.push_back({pParent, 0, 0, m_frames.empty() ? 0 : m_nSelfIndex});
            m_nSelfIndex = nIndex;
            pParent = *it;
        }
        m_nAnchors = m_frames.size();
        return true;
    }

    static constexpr size_t npos = static_cast<size_t>(-1);

    static size_t IndexIn(const CFTPDir& parent, const CFTPDir* pChild, size_t nHint)
    {
        const auto& list = parent.m_dirList;
        if (nHint < list.size() && list[nHint].get() == pChild)
            return nHint;
        for (size_t i = 0; i < list.size(); ++i)
        {
            if (list[i].get() == pChild)
                return i;
        }
        return npos;
    }

    // Gives the lock up for one pump, then finds the stack again.
    bool Pause(Lock& lock)
    {
        lock.unlock();
        bool bGoOn = m_pump.Pump();
        lock.lock();
        Revalidate();
        return bGoOn;
    }

    void Revalidate()
    {
        // Frame 0 is the site's root, which lives as long as the site.
        for (size_t i = 1; i < m_frames.size(); ++i)
        {
            Frame& parent = m_frames[i - 1];
            Frame& child = m_frames[i];
            size_t nIndex = IndexIn(*parent.pDir, child.pDir, child.nIndex);
            if (nIndex == npos)
            {
                m_frames.resize(i);
                break;
            }
            child.nIndex = nIndex;
            if (i - 1 >= m_nAnchors)
                parent.nDir = nIndex + 1;
        }
        if (m_frames.size() > m_nAnchors)
        {
            Frame& top = m_frames.back();
            top.nDir = std::min(top.nDir, top.pDir->m_dirList.size());
            top.nFile = std::min(top.nFile, top.pDir->m_fileList.size());
        }
    }

    CFTPSite& m_site;
    CPumpBudget& m_pump;
    Visitor& m_visitor;
    std::vector<Frame> m_frames;
    size_t m_nAnchors = 0;
    size_t m_nSelfIndex = 0; // the walked folder's position in its parent
};
