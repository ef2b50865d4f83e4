#pragma once
// A server on 127.0.0.1 that answers one request with fixed bytes and then closes the connection: for
// answers that no well-behaved server sends (a body cut off before its Content-Length).
#ifdef _WIN32
#include <cstdint>
#include <string>
#include <thread>

namespace davtest {

class TOneShotServer {
public:
    // answer: the whole answer as it goes out, status line and headers included.
    explicit TOneShotServer(std::string answer);
    ~TOneShotServer();
    TOneShotServer(const TOneShotServer&) = delete;
    TOneShotServer& operator=(const TOneShotServer&) = delete;

    // "http://127.0.0.1:<port>" + path.
    std::string Url(const std::string& path) const;

private:
    std::string Answer;
    uintptr_t Listener = ~uintptr_t(0);   // a SOCKET (kept out of this header with winsock2.h)
    int Port = 0;
    std::thread Worker;
};

}  // namespace davtest
#endif
