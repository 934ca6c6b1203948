#include "codesign/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>

#include "binding/fips.h"
#include "crypto/random_source.h"

namespace ombrix {
namespace {

// The module-wide socket lock: guards the one-time start-up of the socket layer.
SRWLOCK g_socket_layer_lock = SRWLOCK_INIT;
std::atomic<long> g_live_sockets{0};
bool g_started = false;  // under the lock
std::atomic<long> g_start_count{0};

void StartSocketLayerOnce() {
    AcquireSRWLockExclusive(&g_socket_layer_lock);
    if (!g_started) {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 0), &data) == 0) {
            g_started = true;
            ++g_start_count;
            // In FIPS mode the FIPS library keeps its own random method.
            if (!FipsMode()) InstallRandomSource();
        }
    }
    ReleaseSRWLockExclusive(&g_socket_layer_lock);
}

SOCKET Handle(uintptr_t value) { return static_cast<SOCKET>(value); }

}  // namespace

CqelWinSocket::CqelWinSocket() : socket_(static_cast<uintptr_t>(INVALID_SOCKET)) {
    ++g_live_sockets;
    StartSocketLayerOnce();
}

CqelWinSocket::~CqelWinSocket() {
    Close();
    --g_live_sockets;
}

bool CqelWinSocket::Create() {
    Close();
    const SOCKET created = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (created == INVALID_SOCKET) {
        RecordError();
        return false;
    }
    socket_ = static_cast<uintptr_t>(created);
    return true;
}

bool CqelWinSocket::Valid() const { return Handle(socket_) != INVALID_SOCKET; }

int CqelWinSocket::RecordError() {
    last_error_ = WSAGetLastError();
    return SOCKET_ERROR;
}

int64_t CqelWinSocket::RemainingMilliseconds() const {
    if (deadline_ == 0) return -1;
    const uint64_t now = GetTickCount64();
    return now >= deadline_ ? 0 : static_cast<int64_t>(deadline_ - now);
}

bool CqelWinSocket::WaitUntilReady(bool for_writing) {
    const int64_t remaining = RemainingMilliseconds();
    if (remaining < 0) return true;
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(Handle(socket_), &ready);
    FD_SET(Handle(socket_), &failed);
    timeval limit;
    limit.tv_sec = static_cast<long>(remaining / 1000);
    limit.tv_usec = static_cast<long>((remaining % 1000) * 1000);
    const int result = select(0, for_writing ? nullptr : &ready, for_writing ? &ready : nullptr, &failed, &limit);
    if (result == SOCKET_ERROR) {
        RecordError();
        return false;
    }
    if (result == 0) {
        last_error_ = WSAETIMEDOUT;
        WSASetLastError(WSAETIMEDOUT);
        return false;
    }
    return true;
}

int CqelWinSocket::Connect(const char* host_name, uint32_t port) {
    if (!Valid() || !host_name || port == 0 || port > 65535) {
        last_error_ = WSAEINVAL;
        WSASetLastError(WSAEINVAL);
        return SOCKET_ERROR;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = inet_addr(host_name);
    if (address.sin_addr.s_addr == INADDR_NONE) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        if (getaddrinfo(host_name, nullptr, &hints, &found) != 0 || !found) {
            if (found) freeaddrinfo(found);
            last_error_ = kHostNotFound;
            WSASetLastError(kHostNotFound);
            return SOCKET_ERROR;
        }
        address.sin_addr = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
        freeaddrinfo(found);
    }

    if (deadline_ == 0) {
        if (connect(Handle(socket_), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            return RecordError();
        return 0;
    }
    // With a deadline: connect without blocking, wait for the outcome, then block again.
    u_long non_blocking = 1;
    if (ioctlsocket(Handle(socket_), FIONBIO, &non_blocking) != 0) return RecordError();
    int result = connect(Handle(socket_), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (result != 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
        if (!WaitUntilReady(true)) {
            result = SOCKET_ERROR;
        } else {
            int error = 0;
            int length = sizeof error;
            getsockopt(Handle(socket_), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
            result = error == 0 ? 0 : SOCKET_ERROR;
            if (error != 0) {
                last_error_ = error;
                WSASetLastError(error);
            }
        }
    } else if (result != 0) {
        RecordError();
    }
    u_long blocking = 0;
    if (ioctlsocket(Handle(socket_), FIONBIO, &blocking) != 0 && result == 0) return RecordError();
    return result == 0 ? 0 : SOCKET_ERROR;
}

int CqelWinSocket::Receive(char* buffer, int size, int flags) {
    if (!WaitUntilReady(false)) return SOCKET_ERROR;
    const int received = recv(Handle(socket_), buffer, size, flags);
    if (received == SOCKET_ERROR) RecordError();
    return received;
}

int CqelWinSocket::Send(const char* bytes, int size) {
    const int64_t remaining = RemainingMilliseconds();
    if (remaining == 0) {
        last_error_ = WSAETIMEDOUT;
        return SOCKET_ERROR;
    }
    if (remaining > 0) {
        const DWORD limit = static_cast<DWORD>(remaining);
        setsockopt(Handle(socket_), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
    }
    const int sent = send(Handle(socket_), bytes, size, 0);
    if (sent == SOCKET_ERROR) RecordError();
    return sent;
}

void CqelWinSocket::ShutdownAndClose() {
    if (Valid()) shutdown(Handle(socket_), SD_BOTH);
    Close();
}

void CqelWinSocket::Close() {
    if (!Valid()) return;
    closesocket(Handle(socket_));
    socket_ = static_cast<uintptr_t>(INVALID_SOCKET);
}

long LiveSocketCount() { return g_live_sockets.load(); }

long SocketLayerStartCount() { return g_start_count.load(); }

void ShutdownSocketLayer() {
    AcquireSRWLockExclusive(&g_socket_layer_lock);
    if (g_started) WSACleanup();
    g_started = false;
    ReleaseSRWLockExclusive(&g_socket_layer_lock);
}

void ResetSocketLayerForTesting() {
    ShutdownSocketLayer();
    g_start_count = 0;
}

}  // namespace ombrix
