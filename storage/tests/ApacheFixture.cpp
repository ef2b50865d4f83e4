#include "ApacheFixture.h"
#include "TestFiles.h"

#include "uGLBCrypt.h"
#include "uGLBRegistry.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace davtest {

fs::path U8Path(const std::string& utf8) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::string PathU8(const fs::path& p) {
    const std::u8string s = p.u8string();
    return std::string(reinterpret_cast<const char*>(s.data()), s.size());
}

void WriteLocal(const fs::path& p, const std::string& bytes) {
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

namespace {

// A Linux path as wine sees it.
fs::path FromLinux(const std::string& linuxPath) {
    std::string w = "Z:" + linuxPath;
    for (char& c : w) {
        if (c == '/') c = '\\';
    }
    return U8Path(w);
}

// Apache escapes bytes above 127 and control characters in the log as \xhh, and '"' and '\' as \" \\.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else if (s[i] == '\\' && i + 1 < s.size()) {
            out += s[++i];
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string Field(const std::vector<std::string>& f, size_t i) {
    if (i >= f.size() || f[i] == "-") return {};
    return Unescape(f[i]);
}

}  // namespace

ApacheFixture& ApacheFixture::Instance() {
    static ApacheFixture* fixture = [] {
        std::string info;
        if (const char* e = std::getenv("SX_DAV_INFO")) info = e;
        else if (const char* b = std::getenv("SX_BINARY_DIR")) info = std::string(b) + "/dav/dav-server.txt";
        else throw std::runtime_error("SX_BINARY_DIR is not set: run the test through ctest");
        fs::path file = info.size() > 1 && info[1] == ':' ? U8Path(info) : FromLinux(info);
        std::map<std::string, std::string> v;
        std::istringstream lines(ReadFileBytes(file));
        for (std::string line; std::getline(lines, line);) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) v[line.substr(0, eq)] = line.substr(eq + 1);
        }
        static ApacheFixture f;
        f.Port = std::stoi(v.at("port"));
        f.Url = v.at("url");
        f.UrlNoDepth = v.at("url_nodepth");
        f.CannedUrl = v.at("canned_url");
        f.CannedDir = FromLinux(v.at("canned"));
        f.User = v.at("user");
        f.Password = v.at("password");
        f.Tree = FromLinux(v.at("tree"));
        f.Log = FromLinux(v.at("log"));
        f.Sample = FromLinux(v.at("sample"));
        return &f;
    }();
    return *fixture;
}

fs::path ApacheFixture::Local(const std::string& serverPath) const {
    std::string p = serverPath;
    for (char& c : p) {
        if (c == '/') c = '\\';
    }
    while (!p.empty() && p.front() == '\\') p.erase(0, 1);
    return p.empty() ? Tree : Tree / U8Path(p);
}

std::string ApacheFixture::Sandbox(const std::string& name) const {
    const fs::path dir = Local(name);
    std::error_code ec;
    if (fs::exists(dir, ec)) {
        // Moved aside, not deleted: wine cannot enumerate names such as "a|b" that the server may
        // have made; the next server start clears the tree.
        static int n = 0;
        const fs::path aside = Tree / U8Path(".trash-" + std::to_string(GetCurrentProcessId()) + "-" +
                                             std::to_string(GetTickCount64()) + "-" + std::to_string(++n));
        if (!MoveFileW(dir.wstring().c_str(), aside.wstring().c_str())) {
            throw std::runtime_error("cannot clear the sandbox " + PathU8(dir));
        }
    }
    fs::create_directories(dir);
    return Url + "/" + name;
}

std::string ApacheFixture::TestSandbox(const std::string& prefix, std::string& name) const {
    name = prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_';
    return Sandbox(name);
}

void ApacheFixture::ConnectClient(const std::string& host, const std::string& userPath) const {
    WriteRegistryString("Application", "install", userPath);
    WriteRegistryString("Application", "userpath", userPath);
    WriteRegistryInteger("Application", "debug", 2);
    WriteRegistryInteger("Application", "language", 0);
    WriteRegistryString("Connection", "host", host);
    WriteRegistryString("Connection", "username", User);
    WriteRegistryString("Connection", "password", EncryptPassword(Password));
}

void ApacheFixture::MakeFolder(const std::string& serverPath) const {
    fs::create_directories(Local(serverPath));
}

void ApacheFixture::WriteFile(const std::string& serverPath, const std::string& bytes) const {
    const fs::path p = Local(serverPath);
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + PathU8(p));
}

std::string ApacheFixture::Picture(const std::string& serverPath) const {
    std::string jpeg = ReadFileBytes(Sample);
    if (jpeg.size() < 4 || jpeg.compare(0, 2, "\xFF\xD8") != 0) throw std::runtime_error("the sample is no JPEG");
    uint64_t hash = 14695981039346656037ull;   // FNV-1a: a fixed-length mark of the path
    for (const unsigned char c : serverPath) hash = (hash ^ c) * 1099511628211ull;
    char mark[40];
    std::snprintf(mark, sizeof mark, "seeded picture %016llx", static_cast<unsigned long long>(hash));
    const std::string comment = mark;
    // The comment goes after the application segments (JFIF wants its own first).
    size_t at = 2;
    while (at + 4 <= jpeg.size() && static_cast<unsigned char>(jpeg[at]) == 0xFF &&
           (static_cast<unsigned char>(jpeg[at + 1]) & 0xF0) == 0xE0)
        at += 2 + (static_cast<size_t>(static_cast<unsigned char>(jpeg[at + 2])) << 8) +
              static_cast<unsigned char>(jpeg[at + 3]);
    const size_t length = comment.size() + 2;
    const std::string segment = std::string("\xFF\xFE") + static_cast<char>(length >> 8) +
                                static_cast<char>(length & 0xFF) + comment;
    return jpeg.insert(std::min(at, jpeg.size()), segment);
}

void ApacheFixture::PutPicture(const std::string& serverPath) const {
    WriteFile(serverPath, Picture(serverPath));
}

std::string ApacheFixture::ReadFile(const std::string& serverPath) const {
    return ReadFileBytes(Local(serverPath));
}

bool ApacheFixture::Exists(const std::string& serverPath) const {
    std::error_code ec;
    return fs::exists(Local(serverPath), ec);
}

std::string ApacheFixture::Canned(const std::string& name, const std::string& status,
                                  const std::string& contentType, const std::string& body,
                                  int delaySeconds) const {
    const fs::path p = CannedDir / U8Path(name);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    if (delaySeconds > 0) out << "Sleep: " << delaySeconds << "\n";
    out << "Status: " << status << "\r\nContent-Type: " << contentType << "\r\n\r\n" << body;
    if (!out) throw std::runtime_error("cannot write " + PathU8(p));
    return CannedUrl + "/" + name;
}

size_t ApacheFixture::LogMark() const {
    std::error_code ec;
    const auto n = fs::file_size(Log, ec);
    return ec ? 0 : static_cast<size_t>(n);
}

std::vector<TDavLogLine> ApacheFixture::LogSince(size_t mark, const std::string& pathPrefix,
                                                 size_t atLeast, int timeoutMs) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::vector<TDavLogLine> result;
        std::string all = ReadFileBytes(Log);
        if (mark < all.size()) {
            std::istringstream lines(all.substr(mark));
            for (std::string line; std::getline(lines, line);) {
                std::vector<std::string> f;
                size_t start = 0;
                for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
                    f.push_back(line.substr(start, tab - start));
                }
                f.push_back(line.substr(start));
                if (f.size() < 10) continue;   // a line still being written
                TDavLogLine l;
                l.Method = Field(f, 0);
                l.Path = Field(f, 1);
                l.Status = std::atoi(f[2].c_str());
                l.Depth = Field(f, 3);
                l.Destination = Field(f, 4);
                l.Overwrite = Field(f, 5);
                l.ContentType = Field(f, 6);
                l.CacheControl = Field(f, 7);
                l.Pragma = Field(f, 8);
                l.RequestLine = Field(f, 9);
                if (l.Path.compare(0, pathPrefix.size(), pathPrefix) == 0) result.push_back(std::move(l));
            }
        }
        if (result.size() >= atLeast || std::chrono::steady_clock::now() >= until) return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace davtest
