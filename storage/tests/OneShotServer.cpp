#include <winsock2.h>

#include "OneShotServer.h"
#include "LoopbackListener.h"

#include <cctype>
#include <utility>

namespace davtest {

TOneShotServer::TOneShotServer(std::string answer) : Answer(std::move(answer))
{
    const SOCKET listener = ListenOnLoopback(1, Port);
    Listener = listener;
    Worker = std::thread([this, listener] {
        const SOCKET s = accept(listener, nullptr, nullptr);
        if (s == INVALID_SOCKET) return;   // closed without a request
        // The whole request, its body too: unread bytes would make the close a reset that can
        // overtake the answer.
        std::string request;
        char buf[4096];
        size_t end = std::string::npos, total = std::string::npos;
        while (total == std::string::npos || request.size() < total) {
            const int n = recv(s, buf, sizeof buf, 0);
            if (n <= 0) break;
            request.append(buf, static_cast<size_t>(n));
            if (end == std::string::npos && (end = request.find("\r\n\r\n")) != std::string::npos) {
                std::string head = request.substr(0, end);
                for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                const size_t at = head.find("\r\ncontent-length:");
                total = end + 4 + (at == std::string::npos ? 0 : std::stoul(head.substr(at + 17)));
            }
        }
        send(s, Answer.data(), static_cast<int>(Answer.size()), 0);
        shutdown(s, SD_BOTH);
        closesocket(s);
    });
}

TOneShotServer::~TOneShotServer()
{
    closesocket(static_cast<SOCKET>(Listener));
    Worker.join();
    WSACleanup();
}

std::string TOneShotServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(Port) + path;
}

}  // namespace davtest
