#pragma once
// A proxy on 127.0.0.1 in front of the private Apache that hands every request on as it came,
// except the existence checks of one item: a PROPFIND of that path is answered by the proxy itself
// with an error status, or its connection is dropped, while Apache still holds the item. Apache's
// access log therefore shows every request but those.
#ifdef _WIN32
#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace davtest {

enum class TProbeFault {
    None,
    Forbidden,     // 403
    ServerError,   // 500
    Dropped,       // the connection closes without an answer
};

class TFaultProxy {
public:
    // In front of the server at 127.0.0.1:targetPort.
    explicit TFaultProxy(int targetPort);
    ~TFaultProxy();
    TFaultProxy(const TFaultProxy&) = delete;
    TFaultProxy& operator=(const TFaultProxy&) = delete;

    // PROPFINDs of the request path (decoded, UTF-8, "/dav/box/a.txt"; a final "/" ignored) get
    // the fault from now on (None: none again).
    void Fail(const std::string& path, TProbeFault fault);
    // "http://127.0.0.1:<port>" + path.
    std::string Url(const std::string& path) const;
    // How many requests got the fault so far.
    int Faulted() const { return FaultCount; }

private:
    void Serve(uintptr_t client);
    bool Faults(const std::string& method, const std::string& path, TProbeFault& fault);

    int TargetPort;
    int Port = 0;
    uintptr_t Listener;   // a SOCKET (kept out of this header with winsock2.h)
    std::atomic<bool> Stopping{false};
    std::atomic<int> FaultCount{0};
    std::mutex Lock;
    std::map<std::string, TProbeFault> FaultOf;   // by decoded path
    std::list<std::thread> Connections;
    std::thread Acceptor;
};

}  // namespace davtest
#endif
