// The time-stamp client's blocking TCP socket and the process-wide socket layer it starts.
#pragma once

#include <cstdint>

namespace ombrix {

// One IPv4 stream socket. The first socket of the process starts the platform's socket layer
// (Winsock 2.0) and, outside FIPS mode, installs the module's random byte source into the crypto
// library; both happen once per process, under the module-wide socket lock.
class CqelWinSocket {
public:
    CqelWinSocket();
    CqelWinSocket(const CqelWinSocket&) = delete;
    CqelWinSocket& operator=(const CqelWinSocket&) = delete;
    virtual ~CqelWinSocket();

    // Creates the IPv4 stream socket; false (LastError set) when the platform refuses.
    bool Create();
    // A time limit for Connect, Send and Receive, as a GetTickCount64 value; 0 means none.
    void SetDeadline(uint64_t deadline_tick) { deadline_ = deadline_tick; }

    // Connects to the host, given as a dotted IPv4 address or a name (its first IPv4 address
    // is taken). 0 on success; -1 with LastError 11001 when the name does not resolve; else
    // -1 with the platform's error (10060 when the deadline passes).
    virtual int Connect(const char* host_name, uint32_t port);
    // The platform's receive: bytes received, 0 when the peer closed, -1 on an error or when
    // the deadline passes.
    virtual int Receive(char* buffer, int size, int flags);
    // One send call of all the bytes; the count the platform reports sent, or -1.
    int Send(const char* bytes, int size);

    // Shuts the connection down in both directions, then closes the socket.
    void ShutdownAndClose();
    void Close();

    bool Valid() const;
    int32_t LastError() const { return last_error_; }

private:
    int RecordError();
    // Milliseconds left until the deadline (at least 1 while it has not passed); -1 when there
    // is none, 0 when it has passed.
    int64_t RemainingMilliseconds() const;
    // Waits until the socket is readable (or writable); false with LastError 10060 on time-out.
    bool WaitUntilReady(bool for_writing);

    uintptr_t socket_;
    int32_t last_error_ = 0;
    uint64_t deadline_ = 0;
};

inline constexpr int32_t kHostNotFound = 11001;

// Sockets alive now.
long LiveSocketCount();
// How often this module has started the platform's socket layer (at most once per process
// unless the test reset below is used).
long SocketLayerStartCount();
// At process detach: shuts the socket layer down if the time-stamp client started it.
void ShutdownSocketLayer();
// Test seam: shuts the socket layer down and clears the started flag, so that the next socket
// starts it again. Only while no socket is alive.
void ResetSocketLayerForTesting();

}  // namespace ombrix
