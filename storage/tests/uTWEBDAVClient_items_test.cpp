// The item operations of the storage client against the private Apache WebDAV server: what Apache
// received, what the server tree holds afterwards, and the result.
#include "ApacheFixture.h"
#include "FaultProxy.h"
#include "ProgressTestSupport.h"
#include "SettingsFixture.h"
#include "TestFiles.h"
#include "uGLBConst.h"
#include "uGLBCrypt.h"
#include "uGLBRegistry.h"
#include "uGLBWEBDAVListing.h"
#include "uGLBWin.h"
#include "uTWEBDAVClient.h"
#include "uTvrqDialog.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using davtest::ApacheFixture;
using davtest::PathU8;
using davtest::WriteLocal;
using davtest::TDavLogLine;
using davtest::U8Path;

namespace {

// Without the PROPFIND of depth 0 by which an operation asks whether a path without its final "\" is
// a folder.
std::vector<TDavLogLine> WithoutProbes(std::vector<TDavLogLine> lines)
{
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const TDavLogLine& l) { return l.Method == "PROPFIND" && l.Depth == "0"; }),
                lines.end());
    return lines;
}

std::vector<std::string> Methods(const std::vector<TDavLogLine>& lines)
{
    std::vector<std::string> m;
    for (const auto& l : lines) m.push_back(l.Method + " " + l.Path);
    return m;
}

// Every test works in its own sandbox folder on the server, named after the test, and in its own
// local user path; the client reads both from the settings when it is made.
class ItemOps : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteSettingsBranch();
        Host = Dav().TestSandbox("items_", Box);
        const std::string user = MakeTempFolder("items");
        User = U8Path(user.substr(0, user.size() - 1));
        Dav().ConnectClient(Host, user);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(User, ec);
        DeleteSettingsBranch();
    }

    static const ApacheFixture& Dav() { return ApacheFixture::Instance(); }

    static void Connect(const std::string& host, const std::string& user, const std::string& password)
    {
        WriteRegistryString("Connection", "host", host);
        WriteRegistryString("Connection", "username", user);
        WriteRegistryString("Connection", "password", EncryptPassword(password));
    }

    std::string Srv(const std::string& p) const { return Box + "/" + p; }   // fixture path
    std::string Prefix() const { return "/dav/" + Box + "/"; }
    std::vector<TDavLogLine> Requests(size_t mark, size_t atLeast, int timeoutMs = 5000) const
    {
        return Dav().LogSince(mark, Prefix(), atLeast, timeoutMs);
    }
    // The requests after mark, waiting until no more come (for "this request was not sent").
    std::vector<TDavLogLine> AllRequests(size_t mark, size_t expected) const
    {
        Requests(mark, expected);
        return Requests(mark, expected + 1, 400);
    }
    std::string Log() const { return fs::exists(User / "WEBDAVClient.log") ? ReadFileBytes(User / "WEBDAVClient.log") : ""; }

    std::string Box, Host;
    fs::path User;
};

// ---- FileExists

TEST_F(ItemOps, FileExistsAsksOnePropfindDepthZero)
{
    Dav().WriteFile(Srv("Fotos/a b#1.txt"), "x");
    Dav().MakeFolder(Srv("Fotos/Neu"));
    TWEBDAVClient client;
    struct Case {
        std::string path;
        bool exists;
    } cases[] = {
        {"Fotos\\a b#1.txt", true}, {"Fotos", true}, {"Fotos\\Neu\\", true}, {"Fotos\\Neu", true},
        {"Fotos\\b.txt", false},    {"Nichts\\a.txt", false}, {"", true},
    };
    for (const auto& c : cases) {
        const size_t mark = Dav().LogMark();
        EXPECT_EQ(client.FileExists(c.path), c.exists) << c.path;
        if (c.path.empty()) continue;   // the sandbox itself logs as "/dav/<box>"
        auto r = AllRequests(mark, 1);
        ASSERT_EQ(r.size(), 1u) << c.path;
        EXPECT_EQ(r[0].Method, "PROPFIND");
        EXPECT_EQ(r[0].Depth, "0");
    }
}

TEST_F(ItemOps, FileExistsIsFalseForWrongCredentialsAndUnreachableServer)
{
    Dav().WriteFile(Srv("a.txt"), "x");
    Connect(Host, Dav().User, "wrong");
    EXPECT_FALSE(TWEBDAVClient().FileExists("a.txt"));
    Connect("http://127.0.0.1:1/dav", Dav().User, Dav().Password);
    EXPECT_FALSE(TWEBDAVClient().FileExists("a.txt"));   // no exception leaves it
    EXPECT_NE(Log().find("|ERROR|FileExists: "), std::string::npos);
}

// ---- What an existence check tells: there, absent, or nobody knows

TEST_F(ItemOps, ItemStateTellsAFailedCheckFromAnAbsentItem)
{
    Dav().WriteFile(Srv("Fotos/a b.txt"), "x");
    davtest::TFaultProxy proxy(Dav().Port);
    Connect(proxy.Url("/dav/" + Box), Dav().User, Dav().Password);
    const std::string item = "/dav/" + Box + "/Fotos/a b.txt";
    struct Row {
        const char* what;
        davtest::TProbeFault fault;
        TItemState state;
    } rows[] = {
        {"answered", davtest::TProbeFault::None, TItemState::There},
        {"403", davtest::TProbeFault::Forbidden, TItemState::Unknown},
        {"500", davtest::TProbeFault::ServerError, TItemState::Unknown},
        {"dropped", davtest::TProbeFault::Dropped, TItemState::Unknown},
    };
    for (const Row& row : rows) {
        proxy.Fail(item, row.fault);
        TWEBDAVClient client;
        EXPECT_EQ(client.ItemState("Fotos\\a b.txt"), row.state) << row.what;
        EXPECT_EQ(client.FileExists("Fotos\\a b.txt"), row.state == TItemState::There) << row.what;
        EXPECT_EQ(client.ItemState("Fotos\\b.txt"), TItemState::Absent) << row.what;
    }
    EXPECT_EQ(proxy.Faulted(), 6);
    EXPECT_NE(Log().find("|ERROR|FileExists: the server answered 500"), std::string::npos) << Log();
    // Refused credentials and no server at all are no answer either.
    Connect(Host, Dav().User, "wrong");
    EXPECT_EQ(TWEBDAVClient().ItemState("Fotos\\a b.txt"), TItemState::Unknown);
    Connect("http://127.0.0.1:1/dav", Dav().User, Dav().Password);
    EXPECT_EQ(TWEBDAVClient().ItemState("Fotos\\a b.txt"), TItemState::Unknown);
}

TEST_F(ItemOps, TheFolderCheckLetsGoOfItsAnswerStream)
{
    Dav().WriteFile(Srv("Alt/b.txt"), "b");
    // The test holds a reference of its own to each answer stream the check reads.
    std::vector<IStream*> streams;
    SetAnswerStreamObserver([&](IStream* stream) {
        stream->AddRef();
        streams.push_back(stream);
    });
    {
        // Without its final "\" the client asks the server whether the item is a folder.
        TWEBDAVClient client;
        EXPECT_TRUE(client.Delete("Alt"));
    }
    SetAnswerStreamObserver(nullptr);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]->Release(), 0u) << "the check still holds the stream";
    EXPECT_FALSE(Dav().Exists(Srv("Alt")));
}

// ---- MakeDir

TEST_F(ItemOps, MakeDirCreatesTheFolderAndItsThumbFolder)
{
    TWEBDAVClient client;
    const size_t mark = Dav().LogMark();
    EXPECT_TRUE(client.MakeDir("Neu Ordner"));
    auto r = Requests(mark, 2);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].Method, "MKCOL");
    EXPECT_EQ(r[0].Path, Prefix() + "Neu Ordner/");
    EXPECT_EQ(r[0].CacheControl, "no-cache, max-age=1");
    EXPECT_EQ(r[1].Method, "MKCOL");
    EXPECT_EQ(r[1].Path, Prefix() + "Neu Ordner/.thumb/");
    EXPECT_TRUE(fs::is_directory(Dav().Local(Srv("Neu Ordner/.thumb"))));
    // A folder path with its final "\" gives no doubled slash before ".thumb".
    const size_t mark2 = Dav().LogMark();
    EXPECT_TRUE(client.MakeDir("Neu Ordner\\Sub\\"));
    r = Requests(mark2, 2);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].Path, Prefix() + "Neu Ordner/Sub/.thumb/");
}

TEST_F(ItemOps, MakeDirFailsWhenTheServerRefuses)
{
    Dav().MakeFolder(Srv("Da"));
    TWEBDAVClient client;
    const size_t mark = Dav().LogMark();
    EXPECT_FALSE(client.MakeDir("Da"));                 // 405: it exists
    EXPECT_FALSE(client.MakeDir("Fehlt\\Kind"));        // 409: no parent
    auto r = AllRequests(mark, 2);
    EXPECT_EQ(Methods(r), (std::vector<std::string>{"MKCOL " + Prefix() + "Da/", "MKCOL " + Prefix() + "Fehlt/Kind/"}));
    EXPECT_FALSE(Dav().Exists(Srv("Fehlt")));
    EXPECT_NE(Log().find("|ERROR|Makedir: "), std::string::npos);
}

// ---- Download

TEST_F(ItemOps, DownloadWritesTheBodyOfA200)
{
    std::string body(300000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
    Dav().WriteFile(Srv("Fotos/ä ö.bin"), body);
    TvrqDialog dialog;
    TWEBDAVClient client;
    const fs::path local = User / "Download" / U8Path("ä ö.bin");
    const size_t mark = Dav().LogMark();
    EXPECT_TRUE(client.Download("Fotos\\ä ö.bin", PathU8(local), dialog));
    EXPECT_EQ(ReadFileBytes(local), body);
    auto r = Requests(mark, 1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Method, "GET");
    EXPECT_EQ(r[0].Path, Prefix() + "Fotos/ä ö.bin");
    EXPECT_EQ(r[0].ContentType, "application/octet-stream");
    EXPECT_EQ(r[0].Pragma, "no-cache");
    // Nothing but the target is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(local.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(ItemOps, DownloadOfAnAbsentFileOrARefusalWritesNothingAndFails)
{
    Dav().WriteFile(Srv("a.txt"), "server");
    const fs::path fresh = User / "fresh.txt";
    const fs::path old = User / "old.txt";
    WriteLocal(old, "local");
    {
        TvrqDialog dialog;
        TWEBDAVClient client;
        EXPECT_FALSE(client.Download("fehlt.txt", PathU8(fresh), dialog));   // 404
        EXPECT_FALSE(client.Download("fehlt.txt", PathU8(old), dialog));
    }
    Connect(Host, Dav().User, "wrong");
    {
        TvrqDialog dialog;
        TWEBDAVClient client;
        EXPECT_FALSE(client.Download("a.txt", PathU8(fresh), dialog));       // 401
        EXPECT_FALSE(client.Download("a.txt", PathU8(old), dialog));
    }
    EXPECT_FALSE(fs::exists(fresh));
    EXPECT_EQ(ReadFileBytes(old), "local");
    for (const auto& e : fs::directory_iterator(User)) {
        const std::string n = PathU8(e.path().filename());
        EXPECT_TRUE(n == "old.txt" || n == "Download" || n == "WEBDAVClient.log") << n;
    }
    EXPECT_NE(Log().find("|ERROR|Download: "), std::string::npos);
}

// ---- Upload

TEST_F(ItemOps, UploadPutsTheFileAndConfirmsIt)
{
    const fs::path local = User / U8Path("Bericht 1%.txt");
    WriteLocal(local, "inhalt");
    TvrqDialog dialog;
    TWEBDAVClient client;
    const size_t mark = Dav().LogMark();
    EXPECT_TRUE(client.Upload(PathU8(local), "Bericht 1%.txt", dialog));
    EXPECT_EQ(Dav().ReadFile(Srv("Bericht 1%.txt")), "inhalt");
    auto r = Requests(mark, 2);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].Method, "PUT");
    EXPECT_EQ(r[0].Status, 201);
    EXPECT_EQ(r[0].ContentType, "application/octet-stream");
    EXPECT_EQ(r[0].CacheControl, "no-cache, max-age=0, Expires=-1, Buffer=True");
    EXPECT_EQ(r[1].Method, "PROPFIND");
}

TEST_F(ItemOps, RefusedUploadFailsWhileAnOlderCopyIsOnTheServer)
{
    Dav().WriteFile(Srv("readonly/a.txt"), "alt");
    const fs::path local = User / "a.txt";
    WriteLocal(local, "neu");
    TvrqDialog dialog;
    TWEBDAVClient client;
    EXPECT_FALSE(client.Upload(PathU8(local), "readonly\\a.txt", dialog));
    EXPECT_FALSE(client.UploadForm(PathU8(local), "readonly\\a.txt", dialog));
    EXPECT_EQ(Dav().ReadFile(Srv("readonly/a.txt")), "alt");
    EXPECT_TRUE(fs::exists(local));
    // An unreadable local file sends nothing and fails.
    const size_t mark = Dav().LogMark();
    EXPECT_FALSE(client.Upload(PathU8(User / "fehlt.txt"), "readonly\\a.txt", dialog));
    EXPECT_TRUE(AllRequests(mark, 0).empty());
    EXPECT_NE(Log().find("|ERROR|Upload: "), std::string::npos);
    EXPECT_NE(Log().find("|ERROR|UploadForm: "), std::string::npos);
}

// ---- UploadForm

TEST_F(ItemOps, UploadFormOfAFileHeldOpenSendsItsCopyAndDeletesTheCopy)
{
    const fs::path local = User / "Brief.doc";
    WriteLocal(local, "gespeichert");
    // Held open for writing by "another program": no exclusive access, but it can be read.
    THandle held(CreateFileW(local.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    TvrqDialog dialog;
    TWEBDAVClient client;
    const size_t mark = Dav().LogMark();
    EXPECT_TRUE(client.UploadForm(PathU8(local), "Brief.doc", dialog));
    EXPECT_EQ(Dav().ReadFile(Srv("Brief.doc")), "gespeichert");
    auto r = AllRequests(mark, 1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Method, "PUT");
    EXPECT_EQ(r[0].Path, Prefix() + "Brief.doc");
    EXPECT_EQ(r[0].CacheControl, "no-cache, max-age=1");
    EXPECT_EQ(r[0].Pragma, "no-cache");
    EXPECT_FALSE(fs::exists(User / "Brief.~tmp"));
    held.reset();
    EXPECT_TRUE(fs::exists(local));
}

TEST_F(ItemOps, UploadFormLeavesAFileNamedLikeItsCopyAlone)
{
    const fs::path local = User / "Brief.doc";
    WriteLocal(local, "gespeichert");
    WriteLocal(User / "Brief.~tmp", "eigene Datei");
    THandle held(CreateFileW(local.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    TvrqDialog dialog;
    TWEBDAVClient client;
    EXPECT_TRUE(client.UploadForm(PathU8(local), "Brief.doc", dialog));
    EXPECT_EQ(Dav().ReadFile(Srv("Brief.doc")), "gespeichert");
    EXPECT_EQ(ReadFileBytes(User / "Brief.~tmp"), "eigene Datei");
}

// An editor saves the document again while its upload is still under way.
namespace {
struct TSaveDuringUpload {
    std::wstring Document, ServerFolder;
    bool Saved = false;
};
TSaveDuringUpload* GSaveDuringUpload = nullptr;

// Once the server is receiving the body, the document is written again in place.
void CALLBACK SaveWhileUploading(HWND, UINT, UINT_PTR, DWORD)
{
    TSaveDuringUpload& s = *GSaveDuringUpload;
    if (s.Saved) return;
    WIN32_FIND_DATAW found;
    TFindHandle find(FindFirstFileW((s.ServerFolder + L"\\.davfs.tmp*").c_str(), &found));
    if (!find) return;
    THandle file(CreateFileW(s.Document.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr));
    const std::string second(1 << 20, 'B');
    DWORD written = 0;
    for (int i = 0; file && i < 48; ++i) WriteFile(file.get(), second.data(), DWORD(second.size()), &written, nullptr);
    s.Saved = true;
}
}  // namespace

TEST_F(ItemOps, UploadFormSendsTheFileAsItWasWhenItsUploadBegan)
{
    const fs::path local = User / U8Path("Präsentation.pptx");
    const std::string first(48u << 20, 'A');
    WriteLocal(local, first);
    TSaveDuringUpload save{local.wstring(), Dav().Local(Box).wstring()};
    GSaveDuringUpload = &save;
    const UINT_PTR timer = SetTimer(nullptr, 0, 10, SaveWhileUploading);
    TvrqDialog dialog;
    TWEBDAVClient client;
    const bool sent = client.UploadForm(PathU8(local), "Präsentation.pptx", dialog);
    KillTimer(nullptr, timer);
    GSaveDuringUpload = nullptr;
    ASSERT_TRUE(save.Saved) << "the upload was over before the second save";
    EXPECT_TRUE(sent);
    const std::string got = Dav().ReadFile(Srv("Präsentation.pptx"));
    EXPECT_EQ(got.size(), first.size());
    EXPECT_TRUE(got == first) << std::count(got.begin(), got.end(), 'B') << " bytes of the second save in the first";
    EXPECT_FALSE(fs::exists(User / "Präsentation.~tmp"));
}

// ---- UploadDirectory

TEST_F(ItemOps, UploadDirectoryReplacesFilesWithoutDeletingThemFirst)
{
    const fs::path src = User / "Urlaub";
    WriteLocal(src / "a.jpg", "neu-a");
    WriteLocal(src / U8Path("Tag 2") / "b.txt", "neu-b");
    Dav().WriteFile(Srv("Fotos/Urlaub/a.jpg"), "alt-a");
    Dav().WriteFile(Srv("Fotos/Urlaub/.thumb/a.jpg.thumb.jpg"), "alter daumen");
    TvrqDialog dialog;
    TWEBDAVClient client;
    const size_t mark = Dav().LogMark();
    EXPECT_TRUE(client.UploadDirectory(PathU8(src), "Fotos", dialog));
    EXPECT_EQ(Dav().ReadFile(Srv("Fotos/Urlaub/a.jpg")), "neu-a");
    EXPECT_EQ(Dav().ReadFile(Srv("Fotos/Urlaub/Tag 2/b.txt")), "neu-b");
    EXPECT_TRUE(Dav().Exists(Srv("Fotos/Urlaub/Tag 2/.thumb")));
    EXPECT_FALSE(Dav().Exists(Srv("Fotos/Urlaub/.thumb/a.jpg.thumb.jpg")));   // stale thumbnail gone
    auto r = Requests(mark, 8);
    for (const auto& l : r) EXPECT_FALSE(l.Method == "DELETE" && l.Path == Prefix() + "Fotos/Urlaub/a.jpg");
    // The stale thumbnail goes only after its file's PUT.
    auto put = std::find_if(r.begin(), r.end(), [&](const TDavLogLine& l) {
        return l.Method == "PUT" && l.Path == Prefix() + "Fotos/Urlaub/a.jpg";
    });
    auto del = std::find_if(r.begin(), r.end(), [&](const TDavLogLine& l) {
        return l.Method == "DELETE" && l.Path == Prefix() + "Fotos/Urlaub/.thumb/a.jpg.thumb.jpg";
    });
    ASSERT_NE(put, r.end());
    ASSERT_NE(del, r.end());
    EXPECT_LT(put - r.begin(), del - r.begin());
}

TEST_F(ItemOps, UploadDirectoryIntoAReadOnlyFolderKeepsTheServerFile)
{
    const fs::path src = User / "readonly";
    WriteLocal(src / "a.txt", "neu");
    Dav().WriteFile(Srv("readonly/a.txt"), "alt");
    TvrqDialog dialog;
    TWEBDAVClient client;
    EXPECT_FALSE(client.UploadDirectory(PathU8(src), "", dialog));
    EXPECT_EQ(Dav().ReadFile(Srv("readonly/a.txt")), "alt");
}

TEST_F(ItemOps, UploadDirectoryFailsOnAnUnreachableServer)
{
    WriteLocal(User / "Ordner" / "a.txt", "x");
    Connect("http://127.0.0.1:1/dav", Dav().User, Dav().Password);
    TvrqDialog dialog;
    TWEBDAVClient client;
    EXPECT_FALSE(client.UploadDirectory(PathU8(User / "Ordner"), "", dialog));
    const fs::path local = User / "a.txt";
    WriteLocal(local, "x");
    EXPECT_FALSE(client.Upload(PathU8(local), "a.txt", dialog));
}

// ---- Delete

TEST_F(ItemOps, DeleteRemovesTheItemAndThenItsThumbnail)
{
    Dav().PutPicture(Srv("Fotos/a.jpg"));
    Dav().WriteFile(Srv("Fotos/.thumb/a.jpg.thumb.jpg"), "daumen");
    TWEBDAVClient client;
    const size_t mark = Dav().LogMark();
    EXPECT_TRUE(client.Delete("Fotos\\a.jpg"));
    EXPECT_EQ(Methods(Requests(mark, 3)), (std::vector<std::string>{"PROPFIND " + Prefix() + "Fotos/a.jpg",
                                                                     "DELETE " + Prefix() + "Fotos/a.jpg",
                                                                     "DELETE " + Prefix() + "Fotos/.thumb/a.jpg.thumb.jpg"}));
    EXPECT_FALSE(Dav().Exists(Srv("Fotos/a.jpg")));
    EXPECT_FALSE(Dav().Exists(Srv("Fotos/.thumb/a.jpg.thumb.jpg")));
    // A folder without thumbnail: the thumbnail's 404 does not count.
    Dav().WriteFile(Srv("Fotos/Sub/x.txt"), "x");
    EXPECT_TRUE(client.Delete("Fotos\\Sub"));
    EXPECT_FALSE(Dav().Exists(Srv("Fotos/Sub")));
}

TEST_F(ItemOps, DeleteOfAnAbsentItemFails)
{
    TWEBDAVClient client;
    const size_t mark = Dav().LogMark();
    EXPECT_FALSE(client.Delete("fehlt.txt"));
    EXPECT_EQ(Methods(AllRequests(mark, 2)),
              (std::vector<std::string>{"PROPFIND " + Prefix() + "fehlt.txt", "DELETE " + Prefix() + "fehlt.txt"}));
    EXPECT_NE(Log().find("|ERROR|Delete: "), std::string::npos);
}

// ---- Copy, Move, Rename

TEST_F(ItemOps, CopyToAFreeNameCopiesItemAndThumbnail)
{
    Dav().PutPicture(Srv("a.jpg"));
    Dav().WriteFile(Srv(".thumb/a.jpg.thumb.jpg"), "daumen");
    Dav().MakeFolder(Srv("Ziel/.thumb"));
    TvrqDialog dialog;
    TWEBDAVClient client;
    const size_t mark = Dav().LogMark();
    EXPECT_TRUE(client.Copy("a.jpg", "Ziel\\a.jpg", dialog));
    auto r = WithoutProbes(Requests(mark, 3));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].Method, "COPY");
    EXPECT_EQ(r[0].Destination, Host + "/Ziel/a.jpg");
    EXPECT_EQ(r[0].Overwrite, "F");
    EXPECT_EQ(r[0].CacheControl, "no-store, max-age=1");
    EXPECT_EQ(r[1].Path, Prefix() + ".thumb/a.jpg.thumb.jpg");
    EXPECT_EQ(r[1].Destination, Host + "/Ziel/.thumb/a.jpg.thumb.jpg");
    EXPECT_EQ(r[1].CacheControl, "no-cache, max-age=1");
    EXPECT_EQ(Dav().ReadFile(Srv("Ziel/a.jpg")), Dav().Picture(Srv("a.jpg")));
    EXPECT_TRUE(Dav().Exists(Srv("a.jpg")));
    EXPECT_EQ(Dav().ReadFile(Srv("Ziel/.thumb/a.jpg.thumb.jpg")), "daumen");
}

// Onto an existing target: refused without the user's Yes (the target stays), replaced with it.
TEST_F(ItemOps, CopyAndMoveOntoAnExistingTargetNeedConsent)
{
    for (const bool move : {false, true}) {
        Dav().Sandbox(Box);
        Dav().WriteFile(Srv("a.txt"), "quelle");
        Dav().WriteFile(Srv("Ziel/a.txt"), "ziel");
        TvrqDialog dialog;
        TWEBDAVClient client;
        auto run = [&](bool consent) {
            return move ? client.Move("a.txt", "Ziel\\a.txt", dialog, consent)
                        : client.Copy("a.txt", "Ziel\\a.txt", dialog, consent);
        };
        size_t mark = Dav().LogMark();
        EXPECT_FALSE(run(false)) << move;
        auto r = WithoutProbes(AllRequests(mark, 2));
        ASSERT_EQ(r.size(), 1u);   // no thumbnail request after the refusal
        EXPECT_EQ(r[0].Method, move ? "MOVE" : "COPY");
        EXPECT_EQ(r[0].Overwrite, "F");
        EXPECT_EQ(r[0].Status, 412);
        EXPECT_EQ(Dav().ReadFile(Srv("Ziel/a.txt")), "ziel");
        EXPECT_EQ(Dav().ReadFile(Srv("a.txt")), "quelle");

        mark = Dav().LogMark();
        EXPECT_TRUE(run(true)) << move;
        r = WithoutProbes(Requests(mark, 3));
        ASSERT_EQ(r.size(), 2u);
        EXPECT_EQ(r[0].Overwrite, "T");
        EXPECT_EQ(r[0].Status, 204);
        EXPECT_EQ(r[0].CacheControl, move ? "no-cache, max-age=0, Expires=-1, Buffer=True" : "no-store, max-age=1");
        EXPECT_EQ(r[1].Path, Prefix() + ".thumb/a.txt.thumb.jpg");
        EXPECT_EQ(r[1].Overwrite, "T");
        EXPECT_EQ(Dav().ReadFile(Srv("Ziel/a.txt")), "quelle");
        EXPECT_EQ(Dav().Exists(Srv("a.txt")), !move);
    }
}

TEST_F(ItemOps, RenameMovesItemAndThumbnailAndNeverOverwrites)
{
    Dav().PutPicture(Srv("Fotos/a.jpg"));
    Dav().WriteFile(Srv("Fotos/.thumb/a.jpg.thumb.jpg"), "daumen");
    Dav().WriteFile(Srv("Fotos/c.jpg"), "c");
    TWEBDAVClient client;
    const size_t mark = Dav().LogMark();
    EXPECT_TRUE(client.Rename("Fotos\\a.jpg", "Fotos\\b {1}.jpg"));
    auto r = WithoutProbes(Requests(mark, 3));
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].Method, "MOVE");
    EXPECT_EQ(r[0].Destination, Host + "/Fotos/b%20%7B1%7D.jpg");
    EXPECT_EQ(r[0].Overwrite, "F");
    EXPECT_EQ(r[1].Destination, Host + "/Fotos/.thumb/b%20%7B1%7D.jpg.thumb.jpg");
    EXPECT_TRUE(Dav().Exists(Srv("Fotos/b {1}.jpg")));
    EXPECT_EQ(Dav().ReadFile(Srv("Fotos/.thumb/b {1}.jpg.thumb.jpg")), "daumen");
    EXPECT_FALSE(client.Rename("Fotos\\b {1}.jpg", "Fotos\\c.jpg"));
    EXPECT_EQ(Dav().ReadFile(Srv("Fotos/c.jpg")), "c");
    EXPECT_TRUE(Dav().Exists(Srv("Fotos/b {1}.jpg")));
}

// ---- GetUniqueName

TEST_F(ItemOps, GetUniqueNameInBothLanguages)
{
    struct Case {
        int language;
        std::vector<std::string> taken;
        std::string expected;
    } cases[] = {
        {0, {}, "a.jpg"},
        {0, {"a.jpg"}, "Kopie von a.jpg"},
        {0, {"a.jpg", "Kopie von a.jpg"}, "Kopie (2) von a.jpg"},
        {0, {"a.jpg", "Kopie von a.jpg", "Kopie (2) von a.jpg", "Kopie (3) von a.jpg"}, "Kopie (4) von a.jpg"},
        {1, {"a.jpg"}, "Copy of a.jpg"},
        {1, {"a.jpg", "Copy of a.jpg", "Copy (2) of a.jpg"}, "Copy (3) of a.jpg"},
        {1, {"a.jpg", "Kopie von a.jpg"}, "Copy of a.jpg"},
    };
    for (const auto& c : cases) {
        Dav().Sandbox(Box);
        Dav().MakeFolder(Srv("Fotos"));
        for (const auto& t : c.taken) Dav().WriteFile(Srv("Fotos/" + t), "x");
        WriteRegistryInteger("Application", "language", c.language);
        TWEBDAVClient client;
        EXPECT_EQ(client.GetUniqueName("Fotos", "a.jpg"), c.expected) << c.language << " " << c.taken.size();
        EXPECT_EQ(client.GetUniquePath("Fotos", "a.jpg"), "Fotos\\" + c.expected);
    }
    WriteRegistryInteger("Application", "language", 0);
}

TEST_F(ItemOps, GetUniqueNameIsEmptyWhenTheServerCannotBeAsked)
{
    Connect("http://127.0.0.1:1/dav", Dav().User, Dav().Password);
    TWEBDAVClient client;
    EXPECT_EQ(client.GetUniqueName("Fotos", "a.jpg"), "");
    EXPECT_EQ(client.GetUniquePath("Fotos", "a.jpg"), "");
    EXPECT_NE(Log().find("|ERROR|GetUniqueName: "), std::string::npos);
}

// ---- CreateThumbnail

TEST_F(ItemOps, CreateThumbnailAsksTheServerForThumbnails)
{
    Dav().PutPicture(Srv("Fotos/a.jpg"));
    Dav().PutPicture(Srv("Fotos/Tief/b.jpg"));
    TWEBDAVClient client;
    size_t mark = Dav().LogMark();
    EXPECT_TRUE(client.CreateThumbnail("Fotos", 1));
    auto r = Requests(mark, 1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Method, "CREATETHUMBNAIL");
    EXPECT_EQ(r[0].Depth, "1");
    EXPECT_TRUE(Dav().Exists(Srv("Fotos/.thumb/a.jpg.thumb.jpg")));
    EXPECT_FALSE(Dav().Exists(Srv("Fotos/Tief/.thumb/b.jpg.thumb.jpg")));
    mark = Dav().LogMark();
    EXPECT_TRUE(client.CreateThumbnail("Fotos", -1));
    r = Requests(mark, 1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Depth, "infinity");
    EXPECT_TRUE(Dav().Exists(Srv("Fotos/Tief/.thumb/b.jpg.thumb.jpg")));
    // Another depth sends an empty "Depth": the server's default, the whole tree.
    Dav().PutPicture(Srv("Fotos/Tief/c.jpg"));
    mark = Dav().LogMark();
    EXPECT_TRUE(client.CreateThumbnail("Fotos", 5));
    r = Requests(mark, 1);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].Depth, "");
    EXPECT_TRUE(Dav().Exists(Srv("Fotos/Tief/.thumb/c.jpg.thumb.jpg")));
    EXPECT_FALSE(client.CreateThumbnail("Fehlt", 0));
}

// ---- JPEGToBitmap

TEST_F(ItemOps, JPEGToBitmapWritesABitmapLoadImageCanOpen)
{
    const fs::path jpeg = User / "Thumb" / "a.jpg.thumb.jpg";
    fs::create_directories(jpeg.parent_path());
    fs::copy_file(Dav().Sample, jpeg);
    TWEBDAVClient client;
    client.JPEGToBitmap(PathU8(jpeg));
    const fs::path bmp = User / "Thumb" / "a.thumb.bmp";
    ASSERT_TRUE(fs::exists(bmp));
    HANDLE h = LoadImageW(nullptr, bmp.wstring().c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
    ASSERT_NE(h, nullptr);
    BITMAP bm{};
    EXPECT_NE(GetObjectW(h, sizeof bm, &bm), 0);
    EXPECT_EQ(bm.bmWidth, 160);
    EXPECT_EQ(bm.bmHeight, 120);
    DeleteObject(h);
    // Not a JPEG: logged, nothing written, no exception.
    const fs::path bad = User / "Thumb" / "b.jpg";
    WriteLocal(bad, "kein bild");
    client.JPEGToBitmap(PathU8(bad));
    EXPECT_FALSE(fs::exists(User / "Thumb" / "b.thumb.bmp"));
    EXPECT_NE(Log().find("|ERROR|JPEGToBitmap: "), std::string::npos);
    EXPECT_NE(Log().find(" Filename: " + PathU8(bad)), std::string::npos);
}

// ---- Progress and Cancel, through the real shell progress window

TEST_F(ItemOps, OperationsCountTheirStepsAndStopAtCancel)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    Dav().WriteFile(Srv("a.txt"), "a");
    const fs::path local = User / "b.txt";
    WriteLocal(local, "b");
    {
        TvrqDialog dialog;
        TWEBDAVClient client;
        dialog.Progress.Start("Items", 0, true);
        ASSERT_TRUE(dialog.Progress.WindowHandle()) << "the shell progress window";
        int32_t position = -1, maximum = -1;
        EXPECT_TRUE(client.Download("a.txt", PathU8(User / "a.txt"), dialog));
        EXPECT_TRUE(client.Copy("a.txt", "c.txt", dialog));
        EXPECT_TRUE(client.Upload(PathU8(local), "b.txt", dialog));
        dialog.Progress.GetState(position, maximum);
        EXPECT_EQ(position, 4);
        EXPECT_EQ(maximum, 4);
        // The caller counted the steps itself.
        dialog.Progress.Start("Items", 3, false);
        EXPECT_TRUE(client.Move("c.txt", "d.txt", dialog));
        dialog.Progress.GetState(position, maximum);
        EXPECT_EQ(position, 2);
        EXPECT_EQ(maximum, 3);

        PressProgressCancel(dialog.Progress);
        if (HasFatalFailure()) return;
        const fs::path target = User / "again.txt";
        EXPECT_FALSE(client.Download("a.txt", PathU8(target), dialog));
        EXPECT_FALSE(fs::exists(target));
        const size_t mark = Dav().LogMark();
        EXPECT_FALSE(client.UploadForm(PathU8(local), "e.txt", dialog));
        WriteLocal(User / "Ordner" / "f.txt", "f");
        EXPECT_FALSE(client.UploadDirectory(PathU8(User / "Ordner"), "", dialog));
        for (const auto& l : AllRequests(mark, 2)) EXPECT_NE(l.Method, "PUT") << l.Path;
        EXPECT_FALSE(Dav().Exists(Srv("e.txt")));
        EXPECT_FALSE(Dav().Exists(Srv("Ordner/f.txt")));
    }
    CoUninitialize();
}

// ---- Folder addresses

// Every request on a folder goes to its address with the final "/", whether or not the caller ended
// the path with "\": a server may refuse a folder's address without it.
TEST_F(ItemOps, FolderRequestsUseTheAddressWithTheFinalSlash)
{
    for (const std::string end : {"", "\\"}) {
        Dav().Sandbox(Box);
        Dav().WriteFile(Srv("Quelle/a.txt"), "a");
        Dav().WriteFile(Srv("Alt/b.txt"), "b");
        Dav().WriteFile(Srv("Datei.txt"), "d");
        TvrqDialog dialog;
        TWEBDAVClient client;
        const size_t mark = Dav().LogMark();
        TListingAnswer answer;
        EXPECT_TRUE(client.GetContent("Quelle" + end, 1, dialog, answer)) << end;
        EXPECT_TRUE(client.MakeDir("Neu" + end)) << end;
        EXPECT_TRUE(client.Copy("Quelle" + end, "Kopie" + end, dialog)) << end;
        EXPECT_TRUE(client.Move("Kopie" + end, "Neu\\Kopie" + end, dialog)) << end;
        EXPECT_TRUE(client.Rename("Neu\\Kopie" + end, "Neu\\Umbenannt" + end)) << end;
        EXPECT_TRUE(client.Delete("Alt" + end)) << end;
        EXPECT_TRUE(client.Rename("Datei.txt", "Datei 2.txt")) << end;   // a file keeps its address
        std::vector<std::string> seen;
        for (const auto& l : WithoutProbes(Requests(mark, 15))) {
            if (l.Path.find(".thumb") != std::string::npos) continue;
            std::string line = l.Method + " " + l.Path.substr(Prefix().size());
            if (!l.Destination.empty()) line += " -> " + l.Destination.substr(Host.size() + 1);
            seen.push_back(line);
        }
        EXPECT_EQ(seen, (std::vector<std::string>{"PROPFIND Quelle/", "MKCOL Neu/", "COPY Quelle/ -> Kopie/", "MOVE Kopie/ -> Neu/Kopie/",
                                                  "MOVE Neu/Kopie/ -> Neu/Umbenannt/", "DELETE Alt/",
                                                  "MOVE Datei.txt -> Datei%202.txt"}))
            << "caller's end \"" << end << "\"";
        EXPECT_EQ(Dav().ReadFile(Srv("Neu/Umbenannt/a.txt")), "a");
        EXPECT_EQ(Dav().ReadFile(Srv("Quelle/a.txt")), "a");
        EXPECT_FALSE(Dav().Exists(Srv("Alt")));
        EXPECT_TRUE(Dav().Exists(Srv("Datei 2.txt")));
    }
}

}  // namespace
