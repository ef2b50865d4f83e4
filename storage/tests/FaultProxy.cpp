#include <winsock2.h>

#include "FaultProxy.h"
#include "LoopbackListener.h"

#include <cctype>
#include <chrono>

namespace davtest {

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Decoded(const std::string& target)
{
    std::string path = target.substr(0, target.find('?'));
    std::string out;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '%' && i + 2 < path.size() && std::isxdigit(static_cast<unsigned char>(path[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(path[i + 2]))) {
            out += static_cast<char>(std::stoi(path.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += path[i];
        }
    }
    while (out.size() > 1 && out.back() == '/')
        out.pop_back();
    return out;
}

// Waits until s can be read; false once the proxy stops or nothing came for a minute.
bool Readable(SOCKET s, const std::atomic<bool>& stopping)
{
    for (int waited = 0; waited < 60000 && !stopping; waited += 200) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(s, &set);
        timeval tv{0, 200000};
        const int n = select(0, &set, nullptr, nullptr, &tv);
        if (n != 0)
            return n > 0;
    }
    return false;
}

bool SendAll(SOCKET s, const char* data, size_t size)
{
    while (size > 0) {
        const int n = send(s, data, static_cast<int>(size), 0);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

TFaultProxy::TFaultProxy(int targetPort) : TargetPort(targetPort)
{
    const SOCKET listener = ListenOnLoopback(16, Port);
    Listener = listener;
    Acceptor = std::thread([this, listener] {
        for (;;) {
            const SOCKET s = accept(listener, nullptr, nullptr);
            if (s == INVALID_SOCKET || Stopping)
                return;
            std::lock_guard<std::mutex> guard(Lock);
            Connections.emplace_back([this, s] { Serve(s); });
        }
    });
}

TFaultProxy::~TFaultProxy()
{
    Stopping = true;
    closesocket(static_cast<SOCKET>(Listener));
    Acceptor.join();
    for (std::thread& t : Connections)
        t.join();
    WSACleanup();
}

void TFaultProxy::Fail(const std::string& path, TProbeFault fault)
{
    std::lock_guard<std::mutex> guard(Lock);
    FaultOf[Decoded(path)] = fault;
}

std::string TFaultProxy::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(Port) + path;
}

bool TFaultProxy::Faults(const std::string& method, const std::string& path, TProbeFault& fault)
{
    std::lock_guard<std::mutex> guard(Lock);
    auto it = FaultOf.find(Decoded(path));
    fault = it == FaultOf.end() ? TProbeFault::None : it->second;
    return fault != TProbeFault::None && method == "PROPFIND";
}

void TFaultProxy::Serve(uintptr_t clientSocket)
{
    const SOCKET client = static_cast<SOCKET>(clientSocket);
    std::string head;
    char buf[65536];
    size_t end = std::string::npos;
    while (end == std::string::npos) {
        if (!Readable(client, Stopping)) {
            closesocket(client);
            return;
        }
        const int n = recv(client, buf, sizeof buf, 0);
        if (n <= 0) {
            closesocket(client);
            return;
        }
        head.append(buf, static_cast<size_t>(n));
        end = head.find("\r\n\r\n");
    }
    std::string rest = head.substr(end + 4);
    head.resize(end + 2);   // each header line with its CR LF
    const size_t space = head.find(' '), second = head.find(' ', space + 1);
    const std::string method = head.substr(0, space);
    const std::string target = head.substr(space + 1, second - space - 1);

    TProbeFault fault = TProbeFault::None;
    if (Faults(method, target, fault)) {
        ++FaultCount;
        if (fault == TProbeFault::Dropped) {
            linger hard{1, 0};   // a reset, as a connection that broke
            setsockopt(client, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
            closesocket(client);
            return;
        }
        // The whole request first: unread bytes would make the close a reset that can overtake it.
        const std::string lower = Lower(head);
        const size_t at = lower.find("\r\ncontent-length:");
        const size_t length = at == std::string::npos ? 0 : std::stoul(lower.substr(at + 17));
        while (rest.size() < length && Readable(client, Stopping)) {
            const int n = recv(client, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            rest.append(buf, static_cast<size_t>(n));
        }
        const std::string body = fault == TProbeFault::Forbidden ? "forbidden\n" : "the server failed\n";
        const std::string answer =
            std::string(fault == TProbeFault::Forbidden ? "HTTP/1.1 403 Forbidden" : "HTTP/1.1 500 Internal Server Error") +
            "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nConnection: close\r\n\r\n" + body;
        SendAll(client, answer.data(), answer.size());
        shutdown(client, SD_SEND);
        closesocket(client);
        return;
    }

    // On to Apache, one request per connection.
    std::string forward;
    size_t line = 0;
    while (line < head.size()) {
        const size_t next = head.find("\r\n", line) + 2;
        const std::string text = head.substr(line, next - line);
        const std::string lower = Lower(text);
        if (lower.rfind("connection:", 0) != 0 && lower.rfind("keep-alive:", 0) != 0)
            forward += text;
        line = next;
    }
    forward += "Connection: close\r\n\r\n" + rest;
    const SOCKET upstream = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<u_short>(TargetPort));
    if (connect(upstream, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        !SendAll(upstream, forward.data(), forward.size())) {
        closesocket(upstream);
        closesocket(client);
        return;
    }
    // Both ways until Apache has answered and closed.
    bool clientOpen = true;
    while (!Stopping) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(upstream, &set);
        if (clientOpen)
            FD_SET(client, &set);
        timeval tv{0, 200000};
        const int ready = select(0, &set, nullptr, nullptr, &tv);
        if (ready < 0)
            break;
        if (ready == 0)
            continue;
        if (clientOpen && FD_ISSET(client, &set)) {
            const int n = recv(client, buf, sizeof buf, 0);
            if (n <= 0) {
                clientOpen = false;
                shutdown(upstream, SD_SEND);
            } else if (!SendAll(upstream, buf, static_cast<size_t>(n))) {
                break;
            }
        }
        if (FD_ISSET(upstream, &set)) {
            const int n = recv(upstream, buf, sizeof buf, 0);
            if (n <= 0 || !SendAll(client, buf, static_cast<size_t>(n)))
                break;
        }
    }
    shutdown(client, SD_SEND);
    closesocket(upstream);
    closesocket(client);
}

}  // namespace davtest
