#include "cli/WindowHandoff.h"

#include <thread>
#include <vector>

#include "cli/CliSignals.h"
#include "cli/Commands.h"
#include "model/Json.h"

namespace
{
using namespace std::chrono_literals;
// A window that has the lock but no socket yet is still starting.
constexpr auto CONNECT_PATIENCE = 5s;
constexpr auto CONNECT_RETRY = 100ms;
constexpr auto READ_STEP = 100ms;
} // namespace

bool IsHandedToWindow(const std::string& strCommand)
{
    return strCommand == "update" || strCommand == "read";
}

std::unique_ptr<CWindowLink> CWindowLink::Connect(const std::string& strFolder,
                                                  std::string* pstrError)
{
    auto deadline = std::chrono::steady_clock::now() + CONNECT_PATIENCE;
    for (;;)
    {
        int fd = -1;
        ControlConnect result = ConnectControlSocket(strFolder, &fd, pstrError);
        if (result == ControlConnect::connected)
            return std::unique_ptr<CWindowLink>(new CWindowLink(fd));
        bool bMayAppear = result == ControlConnect::absent || result == ControlConnect::stale;
        if (!bMayAppear || std::chrono::steady_clock::now() >= deadline || GetInterruptCount() > 0)
            return nullptr;
        std::this_thread::sleep_for(CONNECT_RETRY);
    }
}

CJsonLine MakeWindowRequest(const std::string& strCommand, const std::vector<std::string>& args)
{
    CJsonLine request;
    request.Add("tarn", int64_t{CONTROL_PROTOCOL}).Add("cmd", strCommand);
    request.Add("nargs", static_cast<int64_t>(args.size()));
    for (size_t i = 0; i < args.size(); ++i)
        request.Add("arg" + std::to_string(i), args[i]);
    return request;
}

int CWindowLink::Run(const CJsonLine& request,
                     const std::function<void(const CJsonFields&)>& onReply)
{
    std::string strRequest = request.Finish();
    if (!m_channel.WriteLine(strRequest))
    {
        ReportError("the Tarn window did not take the request");
        return EXIT_FAILED;
    }
    int nStops = 0;
    for (;;)
    {
        int nInterrupts = GetInterruptCount();
        if (nInterrupts >= 2)
            return EXIT_FAILED; // gone at once; the window finishes on its own
        if (nInterrupts >= 1 && nStops == 0)
        {
            nStops = 1;
            (void)m_channel.WriteLine(CJsonLine().Add("stop", true).Finish());
        }
        std::string strLine;
        switch (m_channel.ReadLine(&strLine, READ_STEP))
        {
        case CControlChannel::ReadResult::timeout:
            continue;
        case CControlChannel::ReadResult::closed:
            ReportError("the Tarn window closed before it had finished the request");
            return EXIT_FAILED;
        case CControlChannel::ReadResult::line:
            break;
        }
        CJsonFields reply;
        if (!ReadJsonLine(strLine, &reply))
            continue;
        if (std::optional<std::string> strError = reply.GetString("error"))
            ReportError(*strError);
        if (reply.GetBool("done").value_or(false))
            return static_cast<int>(reply.GetUnsigned("exit").value_or(EXIT_OK));
        onReply(reply);
    }
}
