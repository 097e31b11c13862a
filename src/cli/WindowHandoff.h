#pragma once
// A writing command handed to the Tarn window that holds the data folder
// (model/ControlSocket.h), instead of waiting for its lock: update and read
// run in the window, everything tarn-cli prints is made here from the
// window's replies, so the output and exit status are those of a direct run.
// Other writing commands are refused, naming the window.
//
// Thread: tarn-cli's main thread.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "model/ControlSocket.h"

class CJsonFields;
class CJsonLine;

// Commands the window runs for tarn-cli.
bool IsHandedToWindow(const std::string& strCommand);

class CWindowLink
{
public:
    // Connects to the window of strFolder; a window still starting gets a
    // few seconds to open its socket. Null with *pstrError on failure.
    static std::unique_ptr<CWindowLink> Connect(const std::string& strFolder,
                                                std::string* pstrError);

    // Sends the request and reads the replies until one says "done": each
    // other reply goes to onReply; Ctrl-C asks the window to stop its update,
    // a second one leaves. Returns the "exit" of the last reply (EXIT_FAILED
    // when the window went away first, with a message on stderr).
    int Run(const CJsonLine& request, const std::function<void(const CJsonFields&)>& onReply);

private:
    explicit CWindowLink(int fd) : m_channel(fd) {}

    CControlChannel m_channel;
};

// The request's first fields: protocol, command and the positional
// arguments ("nargs", "arg0", "arg1", ...).
CJsonLine MakeWindowRequest(const std::string& strCommand, const std::vector<std::string>& args);
