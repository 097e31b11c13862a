#pragma once
// tarn-cli's commands over the document and the update engine. Each returns
// the exit status.

#include <string>

#include "doc/CloseSequence.h"

class CCliDocHost;
class CTarnDoc;
struct CCommandLine;
class CWindowLink;

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_USAGE = 2;

struct CCliContext
{
    CTarnDoc& doc;
    CCliDocHost& host;
    const CCommandLine& line;
    bool bClosed = false; // the closing sequence has run
    CWindowLink* pWindow = nullptr; // the window holding the folder runs the command
};

// Runs line.m_strCommand.
int RunCommand(CCliContext& ctx);
// Ends the run through the program's closing sequence (CloseSequence.h),
// once: a command that started the engine calls it itself with a wait that
// handles the engine's notices, main calls it for every other command. A
// failure to write the read marks turns a success into EXIT_FAILED.
int FinishRun(CCliContext& ctx, int nStatus, const CloseWaitFn& onWait);

int RunSites(CCliContext& ctx);
int RunAdd(CCliContext& ctx);
int RunEdit(CCliContext& ctx);
int RunRemove(CCliContext& ctx);
int RunTrust(CCliContext& ctx);
int RunImport(CCliContext& ctx);
int RunUpdate(CCliContext& ctx);
int RunLs(CCliContext& ctx);
int RunNew(CCliContext& ctx);
int RunSearch(CCliContext& ctx);
int RunFind(CCliContext& ctx);
int RunRead(CCliContext& ctx);
int RunUrl(CCliContext& ctx);
int RunChanges(CCliContext& ctx);
int RunStats(CCliContext& ctx);
int RunGet(CCliContext& ctx);
int RunSchedule(CCliContext& ctx);

// "tarn-cli: <text>" on stderr.
void ReportError(const std::string& strText);
