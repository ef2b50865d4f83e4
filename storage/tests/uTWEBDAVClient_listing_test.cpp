// The request frame and the listing reader against the private Apache WebDAV server.
#include "ApacheFixture.h"
#include "OneShotServer.h"
#include "ProgressTestSupport.h"
#include "SettingsFixture.h"
#include "TestFiles.h"
#include "TestMemory.h"
#include "uGLBCrypt.h"
#include "uGLBShellTools.h"
#include "uGLBWEBDAVListing.h"
#include "uTVirtualFileStorage.h"
#include "uTWEBDAVClient.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;
using davtest::ApacheFixture;
using davtest::PathU8;
using davtest::U8Path;

namespace {

// Names of the seed: blanks, "#", "%", "&", "+", "{", "|", umlauts, CJK and an emoji.
const std::string kUmlaut = "Bild \xC3\xB6\xC3\xA4\xC3\x9F.jpg";
const std::string kCjk = "\xE6\x97\xA5\xE6\x9C\xAC";                 // folder
const std::string kEmoji = "\xF0\x9F\x98\x80 smile.txt";
const std::string kBar = "Ordner {x}|y";                              // folder ("|" only over HTTP)
const std::string kOdd = "c%d&e+f#g.txt";

// A log file; "" while nothing was logged.
std::string LogFile(const std::string& name) {
    return fs::exists(U8Path(name)) ? ReadFileBytes(name) : std::string();
}

// Every file below a folder (path relative to it, "/" separated) with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    const fs::path root = U8Path(folder);
    std::error_code ec;
    if (!fs::exists(root, ec)) return files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = PathU8(fs::relative(it->path(), root).generic_u8string());
        files[rel + (it->is_directory() ? "/" : "")] = it->is_directory() ? "" : ReadFileBytes(it->path());
    }
    return files;
}

FILETIME FileTimeOf(int y, int mo, int d, int h, int mi, int s) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

void SetModified(const fs::path& p, const FILETIME& ft) {
    const bool dir = fs::is_directory(p);
    HANDLE h = CreateFileW(p.wstring().c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, dir ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
    CloseHandle(h);
}

// Apache's entity tag of a plain file: hex size "-" hex modification time in microseconds.
std::string ExpectedCacheName(const fs::path& p, const std::string& name) {
    WIN32_FILE_ATTRIBUTE_DATA fa;
    EXPECT_TRUE(GetFileAttributesExW(p.wstring().c_str(), GetFileExInfoStandard, &fa));
    const uint64_t t = (static_cast<uint64_t>(fa.ftLastWriteTime.dwHighDateTime) << 32) | fa.ftLastWriteTime.dwLowDateTime;
    const uint64_t us = (t - 116444736000000000ull) / 10;
    char buf[64];
    std::snprintf(buf, sizeof(buf), "%llx%llx", static_cast<unsigned long long>(fa.nFileSizeLow),
                  static_cast<unsigned long long>(us));
    const size_t dot = name.rfind('.');
    return buf + (dot == std::string::npos ? std::string() : name.substr(dot));
}

std::string Hex(const std::string& s) {
    return TVirtualFileStorage::EncodePath(s);
}

class ListingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        DeleteSettingsBranch();
        Dav = &ApacheFixture::Instance();
        const std::string name = std::string("listing_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        Sandbox = name;
        Host = Dav->Sandbox(name);
        UserPath = MakeTempFolder("listing");
        WriteRegistryString("Application", "userpath", UserPath);
        WriteRegistryString("Application", "install", UserPath);
        WriteRegistryInteger("Application", "debug", 1);
        SetConnection(Host, Dav->Password);
    }
    void TearDown() override {
        WaitForOldMirrorsSwept(20000);
        shl_DeleteFolder(UserPath.substr(0, UserPath.size() - 1));
        DeleteSettingsBranch();
        CoUninitialize();
    }
    void SetConnection(const std::string& host, const std::string& password) {
        WriteRegistryString("Connection", "host", host);
        WriteRegistryString("Connection", "username", Dav->User);
        WriteRegistryString("Connection", "password", EncryptPassword(password));
    }
    // The login listing: whole tree with statistics.
    bool Listing(int depth = -1, bool statistics = true, const std::string& path = "") {
        TWEBDAVClient client;
        TvrqDialog dialog;
        TListingAnswer answer;
        return client.GetContent(path, depth, dialog, answer) && client.TranslateXML(answer, statistics, dialog);
    }
    std::string Cache() const { return UserPath + "Cache\\"; }
    // The mirror of a small tree (Fotos\a.txt, b.txt), as a listing left it.
    std::map<std::string, std::string> ListedSmallTree() {
        Dav->WriteFile(Sandbox + "/Fotos/a.txt", "aaa");
        Dav->WriteFile(Sandbox + "/b.txt", "bb");
        EXPECT_TRUE(Listing());
        const auto mirror = Snapshot(Cache());
        EXPECT_EQ(mirror.size(), 4u);
        return mirror;
    }
    std::string LogText() const { return LogFile(UserPath + "WEBDAVClient.log"); }

    // The tree of the seed; "|" is no Windows file-name character, so that folder comes over HTTP.
    void SeedTrickyTree() {
        Dav->PutPicture(Sandbox + "/Fotos/" + kUmlaut);
        Dav->WriteFile(Sandbox + "/Fotos/Urlaub 2024/" + kOdd, "odd name");
        Dav->WriteFile(Sandbox + "/" + kCjk + "/" + kEmoji, "emoji!!");
        Dav->WriteFile(Sandbox + "/top.txt", "top");
        Dav->MakeFolder(Sandbox + "/Leer");
        TWEBDAVClient client;
        ASSERT_TRUE(client.Execute("MKCOL", client.BuildURL(kBar), {}, "", TWaitForm::Synchronous, nullptr));
        EXPECT_EQ(client.Connection->Status(), 201);
        ASSERT_TRUE(client.Execute("PUT", client.BuildURL(kBar + "\\a|b {c}.txt"), TWEBDAVClient::Octet, "bar file",
                                   TWaitForm::Polled, nullptr));
        EXPECT_EQ(client.Connection->Status(), 201);
        // thumbnails, which the mirror leaves out
        ASSERT_TRUE(client.Execute("CREATETHUMBNAIL", client.BuildURL(""), {{"Depth", "infinity"}}, "",
                                   TWaitForm::Polled, nullptr));
        EXPECT_EQ(client.Connection->Status(), 200);
        client.Connection->Disconnect();
        ASSERT_TRUE(Dav->Exists(Sandbox + "/Fotos/.thumb/" + kUmlaut + ".thumb.jpg"));
        SetModified(Dav->Local(Sandbox + "/Fotos/" + kUmlaut), FileTimeOf(2004, 12, 7, 10, 0, 0));
        SetModified(Dav->Local(Sandbox + "/Fotos"), FileTimeOf(2003, 1, 2, 3, 4, 5));
    }

    ApacheFixture* Dav = nullptr;
    std::string Sandbox, Host, UserPath;
};

TEST_F(ListingTest, RequestsAsApacheReceivedThem) {
    Dav->MakeFolder(Sandbox + "/" + "a b#c");
    const size_t mark = Dav->LogMark();
    {
        TWEBDAVClient client;
        TvrqDialog dialog;
        TListingAnswer answer;
        ASSERT_TRUE(client.GetContent("", -1, dialog, answer));
        EXPECT_NE(answer.Text().find("multistatus"), std::string::npos);
        EXPECT_EQ(answer.Size, answer.Text().size());
        EXPECT_EQ(answer.FileName.rfind(client.Env->Temp, 0), 0u) << answer.FileName;
        ASSERT_TRUE(client.GetContent(client.Env->Cache + "a b#c\\", 1, dialog, answer));
    }
    const auto lines = Dav->LogSince(mark, "/dav/" + Sandbox, 2);
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& l : lines) {
        EXPECT_EQ(l.Method, "PROPFIND");
        EXPECT_EQ(l.Status, 207);
        EXPECT_EQ(l.ContentType, "text/xml");
        EXPECT_EQ(l.CacheControl, "no-cache, max-age=0, Expires=-1, Buffer=True");
        EXPECT_EQ(l.Pragma, "no-cache");
        EXPECT_EQ(l.Overwrite, "");
    }
    EXPECT_EQ(lines[0].Path, "/dav/" + Sandbox + "/");   // a folder's address ends in "/", the root's too
    EXPECT_EQ(lines[0].Depth, "infinity");
    EXPECT_EQ(lines[1].Path, "/dav/" + Sandbox + "/a b#c/");   // the mirror root is stripped
    EXPECT_EQ(lines[1].RequestLine, "PROPFIND /dav/" + Sandbox + "/a%20b%23c/ HTTP/1.1");
    EXPECT_EQ(lines[1].Depth, "1");
}

TEST_F(ListingTest, SeededTreeBecomesExactlyTheExpectedMirror) {
    SeedTrickyTree();
    ASSERT_TRUE(Listing());

    auto local = [&](const std::string& rel) { return Dav->Local(Sandbox + "/" + rel); };
    const std::set<std::string> expected = {
        Hex("Fotos") + "DIRTMPFILE.DIR",
        Hex("Fotos") + "/",
        Hex("Fotos") + "/" + ExpectedCacheName(local("Fotos/" + kUmlaut), kUmlaut),
        Hex("Fotos") + "/" + Hex("Urlaub 2024") + "DIRTMPFILE.DIR",
        Hex("Fotos") + "/" + Hex("Urlaub 2024") + "/",
        Hex("Fotos") + "/" + Hex("Urlaub 2024") + "/" + ExpectedCacheName(local("Fotos/Urlaub 2024/" + kOdd), kOdd),
        Hex(kCjk) + "DIRTMPFILE.DIR",
        Hex(kCjk) + "/",
        Hex(kCjk) + "/" + ExpectedCacheName(local(kCjk + "/" + kEmoji), kEmoji),
        Hex(kBar) + "DIRTMPFILE.DIR",
        Hex(kBar) + "/",
        Hex("Leer") + "DIRTMPFILE.DIR",
        Hex("Leer") + "/",
        ExpectedCacheName(local("top.txt"), "top.txt"),
    };
    const auto mirror = Snapshot(Cache());
    std::set<std::string> got;
    for (const auto& [name, bytes] : mirror) {
        got.insert(name);
        if (name.back() != '/') {
            EXPECT_EQ(bytes.size(), 800u) << name;
        }
    }
    // The file below kBar: its cache name comes from a tag the test cannot see on disk.
    std::string barRecord;
    for (const auto& n : got) {
        if (n.rfind(Hex(kBar) + "/", 0) == 0 && n.back() != '/') barRecord = n;
    }
    ASSERT_FALSE(barRecord.empty());
    got.erase(barRecord);
    EXPECT_EQ(got, expected);

    // Every byte of one file record.
    const std::string fileRecord = Hex("Fotos") + "/" + ExpectedCacheName(local("Fotos/" + kUmlaut), kUmlaut);
    const std::string& b = mirror.at(fileRecord);
    const TVirtualFileRecord f = RecordFromBytes(reinterpret_cast<const uint8_t*>(b.data()), b.size());
    EXPECT_EQ(static_cast<uint8_t>(b[0]), kUmlaut.size());
    EXPECT_EQ(f.Name, kUmlaut);
    EXPECT_EQ(f.Path, "Fotos");
    EXPECT_EQ(f.Size, static_cast<int32_t>(Dav->Picture(Sandbox + "/Fotos/" + kUmlaut).size()));
    EXPECT_EQ(DateTimeToText(f.LastModified), "07.12.2004 10:00:00");   // as the server sent it (GMT)
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    double nowUtc = 0;
    char text[32];
    std::snprintf(text, sizeof(text), "%02d.%02d.%04d %02d:%02d:%02d", utc.wDay, utc.wMonth, utc.wYear, utc.wHour,
                  utc.wMinute, utc.wSecond);
    ASSERT_TRUE(DateTimeFromText(text, nowUtc));
    EXPECT_NEAR(f.CreationDate, nowUtc, 10.0 / 1440);   // made just now, server time
    EXPECT_FALSE(f.IsFolder);
    EXPECT_EQ(b[536], 0);
    EXPECT_EQ(f.CacheName, fileRecord.substr(fileRecord.find('/') + 1));
    EXPECT_EQ(b.substr(793), std::string(7, '\0'));

    // Every byte of one folder record.
    const std::string& fb = mirror.at(Hex("Fotos") + "/" + Hex("Urlaub 2024") + "DIRTMPFILE.DIR");
    const TVirtualFileRecord d = RecordFromBytes(reinterpret_cast<const uint8_t*>(fb.data()), fb.size());
    EXPECT_EQ(d.Name, "Urlaub 2024");
    EXPECT_EQ(d.Path, "Fotos\\Urlaub 2024");
    EXPECT_EQ(d.Size, 0);
    EXPECT_TRUE(d.IsFolder);
    EXPECT_EQ(fb[536], 1);
    EXPECT_EQ(d.CacheName, "");
    const std::string& top = mirror.at(Hex("Fotos") + "DIRTMPFILE.DIR");
    EXPECT_EQ(DateTimeToText(RecordFromBytes(reinterpret_cast<const uint8_t*>(top.data()), top.size()).LastModified),
              "02.01.2003 03:04:05");

    // Statistics: the root and the .thumb folder and its picture do not count.
    EXPECT_EQ(ReadRegistryInteger("Application", "files", -1), 5);
    EXPECT_EQ(ReadRegistryInteger("Application", "folders", -1), 5);
    EXPECT_EQ(ReadRegistryInteger("Application", "size", -1),
              static_cast<int32_t>(Dav->Picture(Sandbox + "/Fotos/" + kUmlaut).size()) + 8 + 7 + 3 + 8);
    EXPECT_EQ(Snapshot(Cache().substr(0, Cache().size() - 1) + ".new").size(), 0u);   // no leftovers
}

TEST_F(ListingTest, EveryNameRoundTripsToAnAddressApacheAccepts) {
    SeedTrickyTree();
    ASSERT_TRUE(Listing());
    const std::map<std::string, std::string> content = {
        {"Fotos\\" + kUmlaut, Dav->Picture(Sandbox + "/Fotos/" + kUmlaut)},
        {"Fotos\\Urlaub 2024\\" + kOdd, "odd name"},
        {kCjk + "\\" + kEmoji, "emoji!!"},
        {kBar + "\\a|b {c}.txt", "bar file"},
        {"top.txt", "top"},
    };
    TWEBDAVClient client;
    TVirtualFileStorage storage(client.Env->Cache);
    std::map<std::string, std::string> seen;
    std::vector<std::string> dirs = {client.Env->Cache};
    while (!dirs.empty()) {
        const std::string dir = dirs.back();
        dirs.pop_back();
        for (const std::string& file : storage.ListRecordFiles(dir)) {
            TVirtualFileRecord r;
            storage.LoadVirtualFileStorageFromFile(file, r);
            const std::string server = r.IsFolder || r.Path.empty() ? (r.IsFolder ? r.Path : r.Name)
                                                                    : r.Path + "\\" + r.Name;
            if (r.IsFolder) {
                dirs.push_back(storage.FolderDirectory(r.Path));
                ASSERT_TRUE(client.Execute("PROPFIND", client.BuildURL(server + "\\"), {{"Depth", "0"}},
                                           TWEBDAVClient::PropfindBody, TWaitForm::Synchronous, nullptr));
                EXPECT_EQ(client.Connection->Status(), 207) << server;
                continue;
            }
            EXPECT_EQ(storage.FindCacheName(storage.FolderDirectory(r.Path) + r.Name), r.CacheName);
            ASSERT_TRUE(client.Execute("GET", client.BuildURL(server), TWEBDAVClient::Octet, "",
                                       TWaitForm::Polled, nullptr));
            EXPECT_EQ(client.Connection->Status(), 200) << server;
            seen[server] = client.Connection->ResponseBody();
        }
    }
    EXPECT_EQ(seen, content);
}

TEST_F(ListingTest, RecordedAnswerInTheOriginalServerForm) {
    const std::string base = "/canned/" + Sandbox + "_lp0";
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
        "<D:multistatus xmlns:D=\"DAV:\">\n"
        "<D:response xmlns:lp0=\"DAV:\" xmlns:d=\"DAV:\"><D:href>" + base + "/</D:href>"
        "<D:propstat><D:prop><d:resourcetype><d:collection/></d:resourcetype>"
        "<lp0:getlastmodified>Tue, 07 Dec 2004 10:00:00 GMT</lp0:getlastmodified></D:prop>"
        "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>\n"
        "<D:response xmlns:lp0=\"DAV:\" xmlns:d=\"DAV:\"><D:href>http://127.0.0.1" + base + "/a.jpg</D:href>"
        "<D:propstat><D:prop><lp0:getetag/></D:prop><D:status>HTTP/1.1 404 Not Found</D:status></D:propstat>"
        "<D:propstat><D:prop><d:resourcetype/><lp0:getcontentlength>10</lp0:getcontentlength>"
        "<lp0:creationdate>2004-12-07T10:00:00Z</lp0:creationdate><lp0:getetag>\"1-2\"</lp0:getetag></D:prop>"
        "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>\n"
        "<D:response><D:href>" + base + "/gone.txt</D:href><D:propstat><D:prop><D:getetag/></D:prop>"
        "<D:status>HTTP/1.1 404 Not Found</D:status></D:propstat></D:response>\n"
        "</D:multistatus>\n";
    SetConnection(Dav->Canned(Sandbox + "_lp0", "207 Multi-Status", "text/xml; charset=\"utf-8\"", xml), "x");
    ASSERT_TRUE(Listing());
    const auto mirror = Snapshot(Cache());
    ASSERT_EQ(mirror.size(), 2u);   // 12.jpg in the root; gone.txt has no tag: named by its digest
    EXPECT_EQ(mirror.count(NameDigest("gone.txt") + ".txt"), 1u);
    const std::string& b = mirror.at("12.jpg");
    const TVirtualFileRecord r = RecordFromBytes(reinterpret_cast<const uint8_t*>(b.data()), b.size());
    EXPECT_EQ(r.Name, "a.jpg");
    EXPECT_EQ(r.Path, "");
    EXPECT_EQ(r.Size, 10);
    EXPECT_EQ(DateTimeToText(r.CreationDate), "07.12.2004 10:00:00");
    EXPECT_EQ(ReadRegistryInteger("Application", "files", -1), 2);
    EXPECT_EQ(ReadRegistryInteger("Application", "folders", -1), 0);
    EXPECT_EQ(ReadRegistryInteger("Application", "size", -1), 10);
}

TEST_F(ListingTest, BadAnswersLeaveThePreviousMirror) {
    const auto before = ListedSmallTree();
    if (HasFatalFailure()) return;
    const int32_t files = ReadRegistryInteger("Application", "files", -1);

    const std::string base = "/canned/" + Sandbox;
    auto multistatus = [&](const std::string& name, const std::string& href, const std::string& etag) {
        return "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:multistatus xmlns:D=\"DAV:\">"
               "<D:response><D:href>" + base + name + "/</D:href><D:propstat><D:prop><D:resourcetype>"
               "<D:collection/></D:resourcetype></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>"
               "</D:response><D:response><D:href>" + href + "</D:href><D:propstat><D:prop><D:resourcetype/>"
               "<D:getetag>" + etag + "</D:getetag><D:getcontentlength>1</D:getcontentlength></D:prop>"
               "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response></D:multistatus>";
    };
    struct Case { std::string name, status, body; };
    const std::string good = multistatus("_cut", base + "_cut/x.txt", "\"1\"");
    const std::vector<Case> canned = {
        {"_500", "500 Internal Server Error", "<html><body>boom</body></html>"},
        {"_cut", "207 Multi-Status", good.substr(0, good.size() / 2)},
        {"_doctype", "207 Multi-Status",
         "<?xml version=\"1.0\"?><!DOCTYPE m [<!ENTITY e \"" + std::string(100, 'x') + "\">]>"
         "<D:multistatus xmlns:D=\"DAV:\"><D:response><D:href>" + base + "_doctype/&e;</D:href>"
         "</D:response></D:multistatus>"},
        {"_html", "207 Multi-Status", "<html><body>no listing</body></html>"},
        {"_escape", "207 Multi-Status", multistatus("_escape", base + "_escape/x%zz.txt", "\"1\"")},
        {"_nohref", "207 Multi-Status", multistatus("_nohref", "", "\"1\"")},
    };
    for (const Case& c : canned) {
        SetConnection(Dav->Canned(Sandbox + c.name, c.status, "text/xml", c.body), "x");
        EXPECT_FALSE(Listing()) << c.name;
        EXPECT_EQ(Snapshot(Cache()), before) << c.name;
    }
    // 401 with the server's HTML page, and 403 for Depth infinity.
    SetConnection(Host, "wrong password");
    EXPECT_FALSE(Listing());
    EXPECT_EQ(Snapshot(Cache()), before);
    SetConnection(Dav->UrlNoDepth + "/" + Sandbox, Dav->Password);
    EXPECT_FALSE(Listing());
    EXPECT_EQ(Snapshot(Cache()), before);
    // Nobody listening.
    SetConnection("http://127.0.0.1:1/dav", Dav->Password);
    EXPECT_FALSE(Listing());
    EXPECT_EQ(Snapshot(Cache()), before);
    EXPECT_EQ(ReadRegistryInteger("Application", "files", -1), files);

    const std::string log = LogText();
    EXPECT_NE(log.find("|ERROR|GetContent: the server answered 401"), std::string::npos) << log;
    EXPECT_NE(log.find("|ERROR|GetContent: the server answered 403"), std::string::npos);
    EXPECT_NE(log.find("|ERROR|TranslateXML: the answer holds a DOCTYPE"), std::string::npos) << log;
    EXPECT_NE(log.find("|ERROR|TranslateXML: Invalid HEX digits"), std::string::npos) << log;
}

// An item whose name or tag must not reach the disk, or that lies outside the base path, is left out
// with an ERROR line; the rest of the answer still becomes the mirror, and nothing lands outside it.
TEST_F(ListingTest, UnsafeEntriesAreSkippedAndTheRestIsListed) {
    const std::string base = "/canned/" + Sandbox;
    auto file = [](const std::string& href, const std::string& etag) {
        return "<D:response><D:href>" + href + "</D:href><D:propstat><D:prop><D:resourcetype/>"
               "<D:getetag>" + etag + "</D:getetag><D:getcontentlength>1</D:getcontentlength></D:prop>"
               "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>";
    };
    struct Case { std::string name, href, etag, logged; };
    const std::vector<Case> cases = {
        {"_outside", "/elsewhere/x.txt", "\"1\"", "href outside the base path"},
        {"_dotdot", "/%2e%2e/%2e%2e/x.txt", "\"1\"", "unsafe name"},
        {"_slash", "/a%2F..%2F..%2Fx.txt", "\"1\"", "unsafe name"},
        {"_tagslash", "/x.txt", "\"..\\\\x\"", "unsafe entity tag"},
        {"_tagdots", "/x.txt", "\"a..b\"", "unsafe entity tag"},
    };
    for (const Case& c : cases) {
        const std::string root = base + c.name;
        const std::string body =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:multistatus xmlns:D=\"DAV:\">"
            "<D:response><D:href>" + root + "/</D:href><D:propstat><D:prop><D:resourcetype><D:collection/>"
            "</D:resourcetype></D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>" +
            file(c.href[0] == '/' && c.name != "_outside" ? root + c.href : c.href, c.etag) +
            file(root + "/ok.txt", "\"7\"") + "</D:multistatus>";
        SetConnection(Dav->Canned(Sandbox + c.name, "207 Multi-Status", "text/xml", body), "x");
        EXPECT_TRUE(Listing()) << c.name << "\n" << LogText();
        const auto mirror = Snapshot(Cache());
        EXPECT_EQ(mirror.size(), 1u) << c.name;
        EXPECT_EQ(mirror.count("7.txt"), 1u) << c.name;
        EXPECT_EQ(ReadRegistryInteger("Application", "files", -1), 1) << c.name;
        ASSERT_TRUE(WaitForOldMirrorsSwept(20000));
        for (const auto& [path, bytes] : Snapshot(UserPath)) {
            // Temp/ holds the answer while it is read, and nothing after
            EXPECT_TRUE(path.rfind("Cache/", 0) == 0 || path == "Cache/" || path == "Temp/" ||
                        path.find(".log") != std::string::npos)
                << c.name << ": " << path;
        }
        const std::string log = LogText() + LogFile(UserPath + "VirtualFileStorage.log");
        EXPECT_NE(log.find(c.logged), std::string::npos) << c.name;
        EXPECT_NE(log.find("|ERROR|TranslateXML: skipped"), std::string::npos) << c.name;
    }
}

// A handle on a folder without delete sharing, as a reader inside it holds one.
HANDLE HoldFolder(const std::string& folder) {
    return CreateFileW(U8Path(folder).wstring().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Something holding the mirror folder open (a handle without delete sharing) for longer than the
// swap waits stops it: the listing fails and the old mirror stays whole.
TEST_F(ListingTest, AMirrorHeldOpenIsKeptWhole) {
    const auto before = ListedSmallTree();
    if (HasFatalFailure()) return;
    Dav->WriteFile(Sandbox + "/c.txt", "c");

    HANDLE held = HoldFolder(Cache());
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const bool listed = Listing();
    CloseHandle(held);
    const auto after = Snapshot(Cache());
    EXPECT_FALSE(listed);
    EXPECT_TRUE(after == before) << after.size() << " files and folders in the mirror";
    EXPECT_NE(LogText().find("|ERROR|TranslateXML: cannot replace the mirror"), std::string::npos);
    EXPECT_FALSE(fs::exists(U8Path(UserPath + "Cache.new")));
}

// A reader that lets go of the mirror within moments (the extension listing a folder while the
// tray program refreshes) does not cost the refresh.
TEST_F(ListingTest, AMirrorHeldForAMomentIsStillReplaced) {
    const auto before = ListedSmallTree();
    if (HasFatalFailure()) return;
    Dav->WriteFile(Sandbox + "/c.txt", "c");
    HANDLE held = HoldFolder(Cache());
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::thread reader([held] {
        Sleep(400);
        CloseHandle(held);
    });
    const bool listed = Listing();
    reader.join();
    EXPECT_TRUE(listed);
    EXPECT_EQ(Snapshot(Cache()).size(), before.size() + 1);
}

TEST_F(ListingTest, FolderReloadWritesOverTheMirrorWithoutStatistics) {
    Dav->WriteFile(Sandbox + "/Fotos/a.txt", "aaa");
    ASSERT_TRUE(Listing());
    WriteRegistryInteger("Application", "files", 42);
    Dav->WriteFile(Sandbox + "/Fotos/neu.txt", "neu!");
    ASSERT_TRUE(Listing(1, false, "Fotos\\"));
    const auto mirror = Snapshot(Cache());
    EXPECT_EQ(mirror.size(), 4u);   // Fotos record and dir, a.txt, neu.txt
    EXPECT_EQ(ReadRegistryInteger("Application", "files", -1), 42);
}

TEST_F(ListingTest, CancelInTheProgressWindowEndsGetContent) {
    Dav->WriteFile(Sandbox + "/a.txt", "a");
    TWEBDAVClient client;
    TvrqDialog dialog;
    dialog.Progress.Start("Listing", 1, true);
    PressProgressCancel(dialog.Progress);
    if (HasFatalFailure()) return;
    TListingAnswer answer;
    EXPECT_FALSE(client.GetContent("", -1, dialog, answer));
    EXPECT_EQ(answer.FileName, "");
}

TEST_F(ListingTest, CancelWhileTheServerIsSlow) {
    Dav->WriteFile(Sandbox + "/a.txt", "a");
    ASSERT_TRUE(Listing()) << LogText();
    const auto before = Snapshot(Cache());
    SetConnection(Dav->Canned(Sandbox + "_slow", "207 Multi-Status", "text/xml", "<x/>", 4), Dav->Password);
    TWEBDAVClient client;
    TvrqDialog dialog;
    dialog.Progress.Start("Listing", 1, true);
    HWND cancel = GetDlgItem(dialog.Progress.WindowHandle(), IDCANCEL);
    ASSERT_TRUE(cancel);
    std::thread presser([cancel] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        SendMessageW(cancel, BM_CLICK, 0, 0);
    });
    const auto start = std::chrono::steady_clock::now();
    TListingAnswer answer;
    const bool listed = client.GetContent("", -1, dialog, answer);
    const auto took = std::chrono::steady_clock::now() - start;
    presser.join();
    EXPECT_FALSE(listed);
    EXPECT_LT(took, std::chrono::milliseconds(2500));   // did not wait for the server's answer
    EXPECT_EQ(answer.FileName, "");
    EXPECT_EQ(Snapshot(Cache()), before);
    // The same client goes on with a new request after the abandoned one.
    client.Host = Host;
    ASSERT_TRUE(client.Execute("GET", client.BuildURL("a.txt"), {}, "", TWaitForm::Synchronous, nullptr));
    EXPECT_EQ(client.Connection->ResponseBody(), "a");
    // The abandoned request's buffers stay WinHTTP's until it reports the handle closed; then every
    // request state is released (none leaks, none was freed early).
    client.Connection->Disconnect();
    for (int i = 0; i < 800 && TWEBDAVConnection::LiveRequests() != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(TWEBDAVConnection::LiveRequests(), 0u);
}

// ---- Cache names, hrefs and broken answers

std::string Response(const std::string& href, bool folder, const std::string& etag, const std::string& length = "4") {
    return "<D:response><D:href>" + href + "</D:href><D:propstat><D:prop><D:resourcetype>" +
           (folder ? "<D:collection/>" : "") + "</D:resourcetype>" +
           (etag.empty() ? std::string() : "<D:getetag>" + etag + "</D:getetag>") +
           (folder ? std::string() : "<D:getcontentlength>" + length + "</D:getcontentlength>") +
           "<D:getlastmodified>Tue, 07 Dec 2004 10:00:00 GMT</D:getlastmodified></D:prop>"
           "<D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>\n";
}

std::string Multistatus(const std::string& responses) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n" + responses +
           "</D:multistatus>\n";
}

// The server items the mirror holds ("Fotos\a.txt", folders with a final "\"), after checking that it
// is well-formed: 800-byte records, each name once per folder, a record for every directory and a
// directory for every folder record, every file record under its own cache name.
std::multiset<std::string> MirrorItems(const std::string& cache) {
    std::multiset<std::string> items;
    TVirtualFileStorage storage(cache);
    std::vector<std::string> dirs = {cache};
    while (!dirs.empty()) {
        const std::string dir = dirs.back();
        dirs.pop_back();
        std::set<std::string> names, subdirs, folderRecords;
        for (const auto& entry : fs::directory_iterator(U8Path(dir))) {
            const std::string name = PathU8(entry.path().filename());
            if (entry.is_directory()) {
                subdirs.insert(name);
                dirs.push_back(dir + name + "\\");
                continue;
            }
            EXPECT_EQ(fs::file_size(entry.path()), 800u) << dir << name;
            TVirtualFileRecord r;
            storage.LoadVirtualFileStorageFromFile(dir + name, r);
            EXPECT_TRUE(names.insert(r.Name).second) << "twice in " << dir << ": " << r.Name;
            if (r.IsFolder) {
                folderRecords.insert(name.substr(0, name.size() - 14));
                items.insert(r.Path + "\\");
            } else {
                EXPECT_EQ(r.CacheName, name);
                EXPECT_EQ(storage.FolderDirectory(r.Path), dir);
                items.insert(r.Path.empty() ? r.Name : r.Path + "\\" + r.Name);
            }
        }
        EXPECT_EQ(subdirs, folderRecords) << dir;
    }
    return items;
}

// Files of one size saved in one second share Apache's entity tag (size and time).
TEST_F(ListingTest, EqualSizesAndOneModificationTimeKeepEveryFile) {
    const FILETIME same = FileTimeOf(2024, 3, 1, 12, 0, 0);
    std::multiset<std::string> expected = {"Stapel\\"};
    for (int i = 0; i < 14; ++i) {
        const std::string name = "Scan " + std::to_string(100 + i) + ".jpg";
        Dav->WriteFile(Sandbox + "/Stapel/" + name, "same size!");
        SetModified(Dav->Local(Sandbox + "/Stapel/" + name), same);
        expected.insert("Stapel\\" + name);
    }
    for (const char* name : {"a.txt", "b.txt", "c"}) {
        Dav->WriteFile(Sandbox + "/" + name, "1234");
        SetModified(Dav->Local(Sandbox + "/" + name), same);
        expected.insert(name);
    }
    ASSERT_TRUE(Listing());
    EXPECT_EQ(MirrorItems(Cache()), expected);
    EXPECT_EQ(ReadRegistryInteger("Application", "files", -1), 17);
    // Thumbnails are named by the cache name up to its first ".": those differ too.
    std::set<std::string> stems;
    for (const auto& [name, bytes] : Snapshot(Cache() + Hex("Stapel") + "\\")) {
        EXPECT_TRUE(stems.insert(shl_ExtractFileBaseName(name)).second) << name;
    }
    // A refresh over that mirror gives the same mirror, record for record.
    const auto first = Snapshot(Cache());
    ASSERT_TRUE(Listing());
    EXPECT_EQ(Snapshot(Cache()), first);
    ASSERT_TRUE(Listing(1, false, "Stapel\\"));
    EXPECT_EQ(Snapshot(Cache()), first);
}

TEST_F(ListingTest, AnswersWithoutTagsAndWithRawHashesListEveryFile) {
    const std::string base = "/canned/" + Sandbox + "_notag";
    const std::string xml = Multistatus(
        Response(base + "/", true, "") + Response(base + "/Briefe/", true, "") +
        Response(base + "/Briefe/Brief%201.doc", false, "") + Response(base + "/Briefe/Brief 2.doc", false, "") +
        Response(base + "/hash#1.txt", false, "") + Response("http://127.0.0.1" + base + "/q?x.txt", false, "\"5-6\"") +
        Response(base + "/Briefe/%23%3F.txt", false, ""));
    SetConnection(Dav->Canned(Sandbox + "_notag", "207 Multi-Status", "text/xml", xml), "x");
    ASSERT_TRUE(Listing()) << LogText();
    EXPECT_EQ(MirrorItems(Cache()), (std::multiset<std::string>{"Briefe\\", "Briefe\\Brief 1.doc", "Briefe\\Brief 2.doc",
                                                               "Briefe\\#?.txt", "hash#1.txt", "q?x.txt"}));
    // The extension finds a file's record by its name.
    TVirtualFileStorage storage(Cache());
    EXPECT_EQ(storage.FindCacheName(Cache() + "hash#1.txt"), NameDigest("hash#1.txt") + ".txt");
    EXPECT_EQ(storage.FindCacheName(Cache() + "q?x.txt"), "56.txt");
    EXPECT_EQ(storage.FindCacheName(Cache() + Hex("Briefe") + "\\Brief 2.doc"), NameDigest("Brief 2.doc") + ".doc");
}

// Broken answers fail the listing in a few seconds and leave the mirror byte for byte; answers that
// are merely odd (deep, duplicate, clashing names) give a well-formed mirror of every sound item.
TEST_F(ListingTest, BrokenAndOddAnswersWithAndWithoutStatistics) {
    const auto before = ListedSmallTree();
    if (HasFatalFailure()) return;

    auto answer = [&](const std::string& name, const std::string& items) {
        const std::string base = "/canned/" + Sandbox + name;
        return Multistatus(Response(base + "/", true, "") + Response(base + "/Fotos/", true, "") + items);
    };
    auto item = [&](const std::string& name, const std::string& rel, bool folder, const std::string& tag) {
        return Response("/canned/" + Sandbox + name + "/" + rel, folder, tag);
    };
    struct Broken { std::string name, status, contentType, body; };
    std::vector<Broken> broken;
    {
        const std::string full = answer("_text", item("_text", "Fotos/x.txt", false, "\"1\"") +
                                                     item("_text", "y.txt", false, "\"2\""));
        broken.push_back({"_text", "207 Multi-Status", "text/xml", full.substr(0, full.find("HTTP/1.1 2") + 6)});
    }
    for (const char* name : {"_boundary", "_dropped"}) {
        const std::string full = answer(name, item(name, "Fotos/x.txt", false, "\"1\"") + item(name, "y.txt", false, "\"2\""));
        const std::string cut = full.substr(0, full.rfind("<D:response>"));
        // "_dropped": the server announced the whole answer and the connection ended at the cut.
        broken.push_back({name, "207 Multi-Status",
                          std::string("text/xml") + (name == std::string("_dropped")
                                                         ? "\r\nContent-Length: " + std::to_string(full.size())
                                                         : ""),
                          cut});
    }
    struct Odd { std::string name, body; std::multiset<std::string> items; };
    std::vector<Odd> odd;
    {
        std::string deep, path;
        for (int level = 0; level < 1000; ++level) {
            path += "d/";
            deep += item("_deep", path, true, "");
        }
        deep += item("_deep", path + "f.txt", false, "\"9\"");   // 1000 levels, 1 MB of hrefs
        odd.push_back({"_deep", answer("_deep", item("_deep", "ok.txt", false, "\"7\"") + deep), {"Fotos\\", "ok.txt"}});
    }
    // The folders d\d\...\d that fit below the folder the listing writes into ("Cache.new\",
    // "Cache.stage\"): each level is the directory "64\".
    auto deepFolders = [&](size_t root, std::multiset<std::string>& items) {
        std::string p;
        for (size_t level = 1; root + 3 * level <= kMaxMirrorDirectory && root + 3 * level + 13 <= kMaxMirrorPath; ++level) {
            p += p.empty() ? "d" : "\\d";
            items.insert(p + "\\");
        }
    };
    odd.push_back({"_twice", answer("_twice", item("_twice", "Fotos/x.txt", false, "\"1\"") +
                                                  item("_twice", "Fotos/x.txt", false, "\"1\"") +
                                                  item("_twice", "Fotos/", true, "") +
                                                  item("_twice", "Fotos/x.txt/y.txt", false, "\"3\"") +
                                                  item("_twice", "Neu/Tief/z.txt", false, "\"4\"")),
                   {"Fotos\\", "Fotos\\x.txt", "Neu\\", "Neu\\Tief\\", "Neu\\Tief\\z.txt"}});
    // Folder "AB" lies in the directory "4142"; files whose tags spell it and its record.
    odd.push_back({"_clash", answer("_clash", item("_clash", "AB/", true, "") + item("_clash", "x", false, "\"4142\"") +
                                                  item("_clash", "y.DIR", false, "\"4142DIRTMPFILE\"") +
                                                  item("_clash", "z.txt", false, "\"nul\"")),
                   {"Fotos\\", "AB\\", "x", "y.DIR", "z.txt"}});

    for (const bool statistics : {true, false}) {
        for (const Broken& c : broken) {
            SetConnection(Dav->Canned(Sandbox + c.name, c.status, c.contentType, c.body), "x");
            const auto start = std::chrono::steady_clock::now();
            EXPECT_FALSE(Listing(-1, statistics)) << c.name << " " << statistics;
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5)) << c.name;
            EXPECT_EQ(Snapshot(Cache()), before) << c.name << " " << statistics;
        }
        for (const Odd& c : odd) {
            SetConnection(Dav->Canned(Sandbox + c.name, "207 Multi-Status", "text/xml", c.body), "x");
            ASSERT_TRUE(Listing(-1, statistics)) << c.name << " " << statistics << "\n" << LogText();
            std::multiset<std::string> expected = c.items;
            if (c.name == "_deep") deepFolders(Cache().size() + (statistics ? 4 : 6), expected);
            if (!statistics) {
                // written over the mirror: what was there stays
                expected.insert({"Fotos\\a.txt", "b.txt"});
                if (!expected.count("Fotos\\")) expected.insert("Fotos\\");
            }
            EXPECT_EQ(MirrorItems(Cache()), expected) << c.name << " " << statistics;
            // back to the server's mirror for the next case
            SetConnection(Host, Dav->Password);
            ASSERT_TRUE(Listing());
            ASSERT_EQ(Snapshot(Cache()), before);
        }
    }
    const std::string log = LogText();
    EXPECT_NE(log.find("|ERROR|TranslateXML: the answer is incomplete"), std::string::npos) << log;
    EXPECT_NE(log.find("is listed twice"), std::string::npos);
    EXPECT_NE(log.find("\"Fotos\\x.txt\" is a file"), std::string::npos);
    EXPECT_NE(log.find("too long for the mirror"), std::string::npos);
}

// An answer cut at any byte fails at once.
TEST_F(ListingTest, AnAnswerCutAtAnyByteFails) {
    Dav->WriteFile(Sandbox + "/b.txt", "bb");
    ASSERT_TRUE(Listing());
    const auto before = Snapshot(Cache());
    const std::string base = "/dav/" + Sandbox;
    const std::string full = Multistatus(Response(base + "/Fotos/", true, "") +
                                         Response(base + "/Fotos/x%20y.txt", false, "\"1-2\""));
    TWEBDAVClient client;
    TvrqDialog dialog;
    TListingAnswer answer;
    const auto start = std::chrono::steady_clock::now();
    // Every cut leaves the root element open, up to the last few bytes after its end tag.
    const size_t closed = full.rfind("</D:multistatus>") + std::strlen("</D:multistatus>");
    for (size_t cut = 0; cut < closed; ++cut) {
        answer.Assign(client.Env->Temp, full.substr(0, cut));
        const auto one = std::chrono::steady_clock::now();
        EXPECT_FALSE(client.TranslateXML(answer, cut % 2 == 0, dialog)) << cut;
        ASSERT_LT(std::chrono::steady_clock::now() - one, std::chrono::seconds(2)) << "cut at " << cut;
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(Snapshot(Cache()), before);
    answer.Assign(client.Env->Temp, full);
    EXPECT_TRUE(client.TranslateXML(answer, true, dialog)) << LogText();
    EXPECT_EQ(MirrorItems(Cache()), (std::multiset<std::string>{"Fotos\\", "Fotos\\x y.txt"}));
    const std::string temp = client.Env->Temp;
    { TListingAnswer gone; gone.Assign(temp, "x"); }
    ASSERT_TRUE(WaitForOldMirrorsSwept(20000));
    EXPECT_EQ(Snapshot(temp).size(), 1u);   // the answer still held above; none of the others stayed
}

// Cancel while the records are written, without statistics: nothing of them reaches the mirror.
// The click comes once the first records are in the stage folder, long before the 3000 are written.
TEST_F(ListingTest, CancelInMidWriteWithoutStatistics) {
    Dav->WriteFile(Sandbox + "/b.txt", "bb");
    ASSERT_TRUE(Listing());
    const auto before = Snapshot(Cache());
    const std::string base = "/dav/" + Sandbox;
    std::string items = Response(base + "/", true, "") + Response(base + "/Viele/", true, "");
    for (int i = 0; i < 3000; ++i) items += Response(base + "/Viele/Datei " + std::to_string(i) + ".txt", false, "\"1-2\"");
    TWEBDAVClient client;
    TvrqDialog dialog;
    TListingAnswer answer;
    answer.Assign(client.Env->Temp, Multistatus(items));
    dialog.Progress.Start("Listing", 1, true);
    HWND cancel = GetDlgItem(dialog.Progress.WindowHandle(), IDCANCEL);
    ASSERT_TRUE(cancel);
    const fs::path stage = U8Path(UserPath + "Cache.stage");
    std::thread presser([cancel, stage] {
        // Once the records are being written beside the mirror.
        for (int i = 0; i < 2000 && !fs::exists(stage); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        SendMessageW(cancel, BM_CLICK, 0, 0);
    });
    const auto start = std::chrono::steady_clock::now();
    const bool listed = client.TranslateXML(answer, false, dialog);
    const auto took = std::chrono::steady_clock::now() - start;
    presser.join();
    EXPECT_LT(took, std::chrono::seconds(20));
    EXPECT_FALSE(listed);
    EXPECT_EQ(Snapshot(Cache()), before);
    EXPECT_NE(LogText().find("|ERROR|TranslateXML: cancelled"), std::string::npos);
    EXPECT_FALSE(fs::exists(stage));
}

// A record that cannot be written fails the listing; the old mirror stays as it was.
TEST_F(ListingTest, FailedRecordWritesKeepTheOldMirror) {
    const auto before = ListedSmallTree();
    if (HasFatalFailure()) return;
    Dav->WriteFile(Sandbox + "/c.txt", "c");
    // A file where the listing builds its records.
    for (const bool statistics : {true, false}) {
        const std::string inTheWay = UserPath + (statistics ? "Cache.new" : "Cache.stage");
        std::ofstream(U8Path(inTheWay)) << "x";
        EXPECT_FALSE(Listing(-1, statistics)) << statistics;
        EXPECT_EQ(Snapshot(Cache()), before) << statistics;
        fs::remove(U8Path(inTheWay));
    }
    // A record of the mirror held open (no delete sharing) while a reload must replace it.
    HANDLE held = CreateFileW(U8Path(Cache() + Hex("Fotos") + "DIRTMPFILE.DIR").wstring().c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    const bool listed = Listing(-1, false);
    CloseHandle(held);
    EXPECT_FALSE(listed);
    EXPECT_EQ(Snapshot(Cache()), before);
    EXPECT_FALSE(fs::exists(U8Path(UserPath + "Cache.stage")));
}

// The answer goes into its file as it arrives: the process never holds it, not even once.
TEST_F(ListingTest, GetContentStreamsALargeAnswerIntoItsFile) {
    const std::string name = Sandbox + "_large";
    const std::string base = "/canned/" + name;
    const std::string head = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<D:multistatus xmlns:D=\"DAV:\">\n" +
                             Response(base + "/", true, "") + "<!--";
    const std::string tail = "-->\n" + Response(base + "/a.txt", false, "\"1-2\"") + "</D:multistatus>\n";
    constexpr uint64_t kPadding = 96ull << 20;
    {
        // Written in pieces, so the test itself never holds the answer either.
        std::ofstream out(Dav->CannedDir / U8Path(name), std::ios::binary | std::ios::trunc);
        out << "Status: 207 Multi-Status\r\nContent-Type: text/xml\r\n\r\n" << head;
        const std::string piece(1 << 20, 'x');
        for (uint64_t at = 0; at < kPadding; at += piece.size()) out << piece;
        out << tail;
        ASSERT_TRUE(out.good());
    }
    SetConnection(Dav->CannedUrl + "/" + name, "x");
    TWEBDAVClient client;
    TvrqDialog dialog;
    TListingAnswer answer;
    const uint64_t before = MemoryBytes();
    ASSERT_TRUE(client.GetContent("", -1, dialog, answer)) << LogText();
    const uint64_t rise = PeakMemoryBytes() - before;
    const uint64_t size = head.size() + kPadding + tail.size();
    EXPECT_EQ(answer.Size, size);
    EXPECT_EQ(fs::file_size(U8Path(answer.FileName)), size);
    EXPECT_LT(rise, 24ull << 20) << "peak memory rose by " << (rise >> 20) << " MiB for an answer of "
                                  << (size >> 20) << " MiB";
    std::ifstream in(U8Path(answer.FileName), std::ios::binary);
    std::string start(head.size(), '\0'), end(tail.size(), '\0');
    in.read(start.data(), static_cast<std::streamsize>(start.size()));
    in.seekg(-static_cast<std::streamoff>(tail.size()), std::ios::end);
    in.read(end.data(), static_cast<std::streamsize>(end.size()));
    EXPECT_EQ(start, head);
    EXPECT_EQ(end, tail);
    in.close();
    fs::remove(Dav->CannedDir / U8Path(name));
}

// An answer that ends before its announced length is cut, also when what came is a complete document:
// the listing fails and the mirror stays as it was, with and without statistics.
TEST_F(ListingTest, AnAnswerShorterThanItsContentLengthFails) {
    const auto before = ListedSmallTree();
    if (HasFatalFailure()) return;
    const std::string full = Multistatus(Response("/one/", true, "") + Response("/one/Fotos/", true, "") +
                                         Response("/one/Fotos/neu.txt", false, "\"9-9\""));
    struct Case { uint64_t announced; bool statistics, listed; };
    const Case cases[] = {{full.size() + 50, true, false}, {full.size() + 1, false, false},
                          {full.size(), false, true}};
    for (const Case& c : cases) {
        davtest::TOneShotServer server("HTTP/1.1 207 Multi-Status\r\nContent-Type: text/xml\r\nContent-Length: " +
                                       std::to_string(c.announced) + "\r\nConnection: close\r\n\r\n" + full);
        SetConnection(server.Url("/one"), "x");
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Listing(-1, c.statistics), c.listed) << c.announced;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        if (!c.listed) {
            EXPECT_EQ(Snapshot(Cache()), before) << c.announced;
        }
    }
    EXPECT_EQ(MirrorItems(Cache()), (std::multiset<std::string>{"Fotos\\", "Fotos\\a.txt", "Fotos\\neu.txt", "b.txt"}));
    EXPECT_NE(LogText().find("|ERROR|GetContent: WinHttpReadData"), std::string::npos) << LogText();
    EXPECT_NE(LogText().find("the answer ended after " + std::to_string(full.size()) + " of its " +
                             std::to_string(full.size() + 50) + " bytes"),
              std::string::npos);
}

// A refresh renames the old mirror aside and it is deleted behind the caller's back: nothing of it
// stays, refreshes right after one another work, what else the temporary folder holds stays, and
// the working folders can go at once (disconnect, exit) while old mirrors are still being swept.
TEST_F(ListingTest, RefreshesLeaveNoOldMirrorBehind) {
    const std::string base = "/dav/" + Sandbox;
    auto answerOf = [&](int files) {
        std::string items = Response(base + "/", true, "") + Response(base + "/Viele/", true, "");
        for (int i = 0; i < files; ++i) items += Response(base + "/Viele/Datei " + std::to_string(i) + ".txt", false, "\"1-2\"");
        return Multistatus(items);
    };
    TWEBDAVClient client;
    TvrqDialog dialog;
    TListingAnswer many, fewer;
    many.Assign(client.Env->Temp, answerOf(1500));
    fewer.Assign(client.Env->Temp, answerOf(1000));
    // Left by a process that ended while it swept, beside what the temporary folder holds anyway.
    const std::string temp = client.Env->Temp;
    davtest::WriteLocal(U8Path(temp + "sxold17-1-1\\4142\\x.txt"), "old");
    davtest::WriteLocal(U8Path(temp + "keep.txt"), "the user's");
    davtest::WriteLocal(U8Path(temp + "sp12\\a.txt"), "a framework's temporary folder");
    for (int round = 0; round < 4; ++round) {
        ASSERT_TRUE(client.TranslateXML(round % 2 ? fewer : many, true, dialog)) << round << LogText();
    }
    EXPECT_EQ(MirrorItems(Cache()).size(), 1000u + 1);
    ASSERT_TRUE(WaitForOldMirrorsSwept(60000));
    std::set<std::string> left;
    for (const auto& [path, bytes] : Snapshot(temp)) left.insert(path);
    EXPECT_EQ(left, (std::set<std::string>{fs::path(U8Path(many.FileName)).filename().string(),
                                           fs::path(U8Path(fewer.FileName)).filename().string(), "keep.txt",
                                           "sp12/", "sp12/a.txt"}));
    for (const auto& [path, bytes] : Snapshot(UserPath)) {
        EXPECT_TRUE(path.rfind("Cache/", 0) == 0 || path.rfind("Temp/", 0) == 0 || path.find(".log") != std::string::npos)
            << path;
    }
    // Disconnect right after a refresh: the working folders go whole, sweep or no sweep.
    ASSERT_TRUE(client.TranslateXML(many, true, dialog));
    EXPECT_TRUE(DeleteFolderTree(temp));
    EXPECT_TRUE(DeleteFolderTree(Cache()));
    EXPECT_FALSE(fs::exists(U8Path(temp)));
    EXPECT_FALSE(fs::exists(U8Path(Cache())));
    // And a login after it lists into fresh folders.
    Dav->WriteFile(Sandbox + "/b.txt", "bb");
    ASSERT_TRUE(Listing()) << LogText();
    EXPECT_EQ(MirrorItems(Cache()), (std::multiset<std::string>{"b.txt"}));
}

TEST_F(ListingTest, AFolderReloadMakesTheMirrorAgainWhereItWent) {
    Dav->WriteFile(Sandbox + "/Fotos/a.txt", "aaa");
    Dav->WriteFile(Sandbox + "/Fotos/Urlaub/c.txt", "c");
    Dav->WriteFile(Sandbox + "/b.txt", "bb");
    struct Row {
        std::string what, gone;
        int depth;
        std::string folder;
        std::multiset<std::string> mirror;
    } rows[] = {
        {"the mirror root, depth 1", Cache(), 1, "Fotos\\", {"Fotos\\", "Fotos\\a.txt", "Fotos\\Urlaub\\"}},
        {"the mirror root, depth 0", Cache(), 0, "Fotos", {"Fotos\\"}},
        {"the mirror root, the storage root", Cache(), 1, "", {"b.txt", "Fotos\\"}},
        {"the folder's directory", Cache() + Hex("Fotos") + "\\", 1, "Fotos\\",
         {"b.txt", "Fotos\\", "Fotos\\a.txt", "Fotos\\Urlaub\\"}},
    };
    for (const Row& row : rows) {
        ASSERT_TRUE(Listing()) << row.what;
        ASSERT_TRUE(DeleteFolderTree(row.gone)) << row.what;
        ASSERT_TRUE(Listing(row.depth, false, row.folder)) << row.what << LogText();
        EXPECT_EQ(MirrorItems(Cache()), row.mirror) << row.what;
    }
}

// The plain walk removes what the shell's operation would: read-only files, and levels whose
// names pass MAX_PATH below a root given in its plain form.
TEST(FolderRemoval, ReadOnlyFilesAndLevelsPastMaxPathGoToo) {
    const std::string root = MakeTempFolder("rmtree");
    std::wstring level = L"\\\\?\\" + Utf8ToWide(root.substr(0, root.size() - 1));
    for (int i = 0; i < 25; ++i) {
        level += L"\\Ordner " + std::to_wstring(100 + i) + L" \u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4\u00e4";
        ASSERT_TRUE(CreateDirectoryW(level.c_str(), nullptr)) << i;
    }
    for (const std::wstring& file : {level + L"\\tief.txt", Utf8ToWide(root) + L"oben.txt"}) {
        THandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_READONLY, nullptr));
        ASSERT_NE(shl_FileAttributes(file) & FILE_ATTRIBUTE_READONLY, 0u);
    }
    ASSERT_GT(level.size(), 400u);
    EXPECT_TRUE(DeleteFolderTree(root));
    EXPECT_FALSE(shl_PathExists(root));
}

TEST_F(ListingTest, ListingRefreshReloadAndRemovalUnderEveryFormOfTheUserPath) {
    Dav->WriteFile(Sandbox + "/Fotos/a.txt", "aaa");
    Dav->WriteFile(Sandbox + "/b.txt", "bb");
    const std::multiset<std::string> tree = {"b.txt", "Fotos\\", "Fotos\\a.txt"};
    std::vector<std::string> forms = {"\\\\?\\" + UserPath, UncFormOf(UserPath), UncFormOf(UserPath, true)};
    if (forms[1].empty()) {
        ADD_FAILURE() << "no share \\\\sxserver\\c: the UNC forms are not tried (ctest makes it: fixture \"unc\")";
        forms.resize(1);
    }
    for (const std::string& userPath : forms) {
        WriteRegistryString("Application", "userpath", userPath);
        const std::string cache = userPath + "Cache\\";
        ASSERT_TRUE(Listing()) << userPath << LogText();        // login: a fresh mirror
        Dav->WriteFile(Sandbox + "/Fotos/neu.txt", "neu!");
        ASSERT_TRUE(Listing()) << userPath << LogText();        // refresh: swapped in, the old one swept
        Dav->WriteFile(Sandbox + "/Fotos/noch.txt", "noch");
        ASSERT_TRUE(Listing(1, false, "Fotos\\")) << userPath;  // folder reload: merged
        auto expected = tree;
        expected.insert({"Fotos\\neu.txt", "Fotos\\noch.txt"});
        EXPECT_EQ(MirrorItems(cache), expected) << userPath;
        EXPECT_EQ(MirrorItems(Cache()), expected) << userPath << ": the same folder";
        ASSERT_TRUE(WaitForOldMirrorsSwept(20000));
        // Disconnect: the working folders go, by the plain walk and by the shell's operation.
        shl_ForceDirectories(userPath + "Download\\Tiefer\\");
        EXPECT_TRUE(fs::exists(U8Path(UserPath + "Download\\Tiefer"))) << userPath;
        EXPECT_TRUE(shl_DeleteFolder(userPath + "Download\\")) << userPath;
        EXPECT_TRUE(DeleteFolderTree(userPath + "Temp\\")) << userPath;
        EXPECT_TRUE(DeleteFolderTree(cache)) << userPath;
        for (const char* folder : {"Cache", "Temp", "Download"})
            EXPECT_FALSE(fs::exists(U8Path(UserPath + folder))) << userPath << folder;
        Dav->Sandbox(Sandbox);
        Dav->WriteFile(Sandbox + "/Fotos/a.txt", "aaa");
        Dav->WriteFile(Sandbox + "/b.txt", "bb");
    }
    // A relative user path, or one on a device, is still refused, and nothing is written.
    WriteRegistryString("Application", "userpath", UserPath);
    TvrqDialog dialog;
    TListingAnswer answer;
    ASSERT_TRUE(TWEBDAVClient().GetContent("", -1, dialog, answer));
    for (const std::string& userPath : {std::string("Tandrel Sendrake\\"), std::string("\\\\.\\") + UserPath,
                                       std::string("\\Tandrel Sendrake\\"), std::string("C:Tandrel Sendrake\\")}) {
        WriteRegistryString("Application", "userpath", userPath);
        EXPECT_FALSE(TWEBDAVClient().TranslateXML(answer, true, dialog)) << userPath;
        EXPECT_FALSE(TWEBDAVClient().TranslateXML(answer, false, dialog)) << userPath;
        EXPECT_FALSE(DeleteFolderTree(userPath + "Cache\\")) << userPath;
        EXPECT_FALSE(shl_DeleteFolder(userPath + "Cache\\")) << userPath;
    }
    EXPECT_FALSE(fs::exists(U8Path(Cache())));
    EXPECT_FALSE(fs::exists(U8Path("Tandrel Sendrake")));
}

}  // namespace
