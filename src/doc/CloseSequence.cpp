#include "doc/CloseSequence.h"

#include "doc/TarnDoc.h"
#include "update/UpdateEngine.h"

void RunCloseSequence(CTarnDoc& doc, const CloseWaitFn& onWait)
{
    doc.RequestStop();
    AbortForClose();
    while (!IsEngineIdle())
        onWait(CLOSE_WAIT_STEP);
    ShutdownEngine();
    onWait(std::chrono::milliseconds(0));
    doc.OnCloseDocument();
}
