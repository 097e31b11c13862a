#include "update/UpdateObserver.h"

#include <atomic>

namespace
{
std::atomic<IUpdateObserver*> g_pUpdateObserver{nullptr};
}

IUpdateObserver* GetUpdateObserver()
{
    return g_pUpdateObserver.load();
}

void SetUpdateObserver(IUpdateObserver* pObserver)
{
    g_pUpdateObserver.store(pObserver);
}

void FreeRemovedEntries(std::vector<std::unique_ptr<CObject>> entries)
{
    entries.clear();
}
