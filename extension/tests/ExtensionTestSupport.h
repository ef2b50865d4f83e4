#pragma once
// What the extension's tests share: a user of the online folder with settings, folders and a
// mirror made by a real login listing of a seeded sandbox on the private WebDAV server, and the
// stand-in tray program at the install path that the connection check looks for.
#include "ApacheFixture.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace exttest {

// The seeded server tree, relative to the sandbox ("/" separated, folders end in "/").
const std::vector<std::string>& SeededTree();
// What the root of the online folder shows of it (no Thumbs.db), in no particular order.
const std::vector<std::string>& RootNames();
// The bytes of a seeded text file (an item of SeededTree): 1000 bytes for every one, each file's
// its own, so that a test sees which file arrived where.
std::string SeededText(const std::string& item);

class TOnlineUser {
public:
    // Settings (install and user path in a fresh local folder, language German, connected flag,
    // host = the sandbox, the fixture's account) and the seeded sandbox.
    explicit TOnlineUser(const std::string& sandbox, bool seed = true);
    ~TOnlineUser();
    TOnlineUser(const TOnlineUser&) = delete;
    TOnlineUser& operator=(const TOnlineUser&) = delete;

    // The seeded tree written into the sandbox.
    void Seed() const;
    // The same user on a fresh seeded sandbox: the host setting names it and the mirror is empty
    // until the next Login (a process whose extension keeps its folders across tests).
    void MoveTo(const std::string& sandbox);
    // The login listing: the whole tree with statistics into a fresh mirror. False when it failed.
    bool Login();
    // The stand-in tray program at Install + "Sendrake.exe": started or stopped.
    void StartTray();
    void StopTray();
    bool TrayRunning() const;
    // Processes whose main module is the install path's Sendrake.exe (started by anyone).
    static int CountTrayProcesses(const std::string& exe);
    void StopAllTrays() const;

    std::string Box, Host;
    std::string Install;            // ends in "\"
    std::string Cache;              // Install + "Cache\"
    std::string Srv(const std::string& p) const { return Box + "/" + p; }
    std::string Prefix() const { return "/dav/" + Box + "/"; }
    static const davtest::ApacheFixture& Dav() { return davtest::ApacheFixture::Instance(); }

private:
    HANDLE Tray = nullptr;
};

std::string ReadLocal(const std::filesystem::path& p);
void WriteLocal(const std::filesystem::path& p, const std::string& bytes);
bool LocalExists(const std::string& utf8Path);

}  // namespace exttest
