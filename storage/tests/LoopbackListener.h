#pragma once
// A listening socket on 127.0.0.1 at a port the system picks, for the tests' own small servers.
// Include after <winsock2.h>.
#ifdef _WIN32

namespace davtest {

inline SOCKET ListenOnLoopback(int backlog, int& port)
{
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    const SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    listen(listener, backlog);
    return listener;
}

}  // namespace davtest
#endif
