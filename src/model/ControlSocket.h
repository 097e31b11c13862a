#pragma once
// The window's local socket in the data folder (tarn.sock): while the window
// holds the folder's lock, a writing tarn-cli command hands its request over
// this socket instead of waiting for the lock. One JSON object per line each
// way (model/Json.h); the window answers a request with lines until one
// carries "done".
//
// Only the owning user may connect: the socket file is created with mode
// 0600 (bound in a private folder, then moved into place, so it is never
// reachable with wider rights) and the window checks each peer's user id.
// The socket's only owner is the lock's holder, so whoever takes the lock
// removes a socket a killed window left behind.
//
// Threads: plain functions and one channel per connection, used by one
// thread at a time.

#include <chrono>
#include <string>

inline constexpr const char* CONTROL_SOCKET_NAME = "tarn.sock";
// The protocol's version, sent with each request.
inline constexpr int CONTROL_PROTOCOL = 1;

std::string GetControlSocketPath(const std::string& strFolder);

// Creates the listening socket <strFolder>/tarn.sock (non-blocking,
// close-on-exec), replacing any file of that name: the caller holds the
// folder's lock, so no other program serves it. -1 on failure, with the
// system's text in *pstrError.
[[nodiscard]] int ListenControlSocket(const std::string& strFolder, std::string* pstrError);

// Removes a socket file that no program serves (the caller holds the lock).
void RemoveStaleControlSocket(const std::string& strFolder);

enum class ControlConnect
{
    connected, // *pfd is the connection
    absent,    // no socket file
    stale,     // a socket file nobody listens on
    denied,    // the file exists but this user may not use it
    failed,
};
// Connects to the window of strFolder (blocking, close-on-exec).
[[nodiscard]] ControlConnect ConnectControlSocket(const std::string& strFolder, int* pfd,
                                                  std::string* pstrError);

// The peer of a connected local socket runs as this process's user.
bool IsPeerSameUser(int fd);

// Lines over a connected socket. The reader keeps what followed the last
// line; a line longer than MAX_LINE ends the connection.
class CControlChannel
{
public:
    static constexpr size_t MAX_LINE = 1 << 20;

    explicit CControlChannel(int fd) : m_fd(fd) {}
    ~CControlChannel();
    CControlChannel(const CControlChannel&) = delete;
    CControlChannel& operator=(const CControlChannel&) = delete;

    int GetFd() const { return m_fd; }
    // Sends strLine (ended by "\n"); false when the peer has gone.
    [[nodiscard]] bool WriteLine(const std::string& strLine);

    enum class ReadResult
    {
        line,    // *pstrLine holds one line, without "\n"
        timeout, // nothing whole within the wait
        closed,  // the peer has gone (or sent too long a line)
    };
    // Waits up to wait for a whole line (0: only what is there now).
    ReadResult ReadLine(std::string* pstrLine, std::chrono::milliseconds wait);

private:
    bool TakeLine(std::string* pstrLine);

    int m_fd;
    std::string m_strBuffer;
    bool m_bEnded = false;
};
