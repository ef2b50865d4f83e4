// The connection's bodies against the private Apache WebDAV server: an answer into a file or a sink
// as it arrives, a request body from a file, the byte counts, cut answers and failures inside
// WinHTTP's notices.
#include "ApacheFixture.h"
#include "OneShotServer.h"
#include "SettingsFixture.h"
#include "TestFiles.h"
#include "uGLBWin.h"
#include "uTWEBDAVClient.h"
#include "uTWEBDAVConnection.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace fs = std::filesystem;
using davtest::ApacheFixture;
using davtest::PathU8;
using davtest::WriteLocal;
using davtest::U8Path;

namespace {

// Bytes that show a piece out of place: no two 4-byte groups of a megabyte are equal.
std::string Pattern(size_t size)
{
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i >> ((i & 3) * 8)) ^ (i * 131));
    return s;
}

class Bodies : public ::testing::Test {
protected:
    void SetUp() override
    {
        Url = Dav().TestSandbox("conn_", Box);
        const std::string dir = MakeTempFolder("conn");
        Local = U8Path(dir.substr(0, dir.size() - 1));
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(Local, ec);
    }
    static const ApacheFixture& Dav() { return ApacheFixture::Instance(); }

    // One synchronous request; the caller sets the body routes in between.
    void Open(TWEBDAVConnection& c, const std::string& method, const std::string& url)
    {
        c.Open(method, url, false);
    }

    std::string Box, Url;
    fs::path Local;
};

TEST_F(Bodies, AnswerGoesIntoAFileAsItArrivesAndTheFileIsFreeAfterwards)
{
    const std::string body = Pattern(3 * 1024 * 1024 + 17);   // several pieces and a short last one
    Dav().WriteFile(Box + "/Fotos/gro\xC3\x9F.bin", body);
    const fs::path file = Local / U8Path("Empfang \xC3\xA4.part");
    WriteLocal(file, "an older, longer content that must not remain at the end of the file");
    TWEBDAVConnection c(Dav().User, Dav().Password);
    Open(c, "GET", Url + "/Fotos/gro%C3%9F.bin");
    c.ReceiveBodyInto(PathU8(file));
    c.Send();
    EXPECT_EQ(c.Status(), 200);
    EXPECT_TRUE(c.ResponseBody().empty());
    const auto t = c.Transferred();
    EXPECT_EQ(t.Received, body.size());
    EXPECT_EQ(t.ToReceive, body.size());
    // Closed as the exchange ended: it can be renamed before Disconnect.
    const fs::path renamed = Local / "fertig.bin";
    EXPECT_TRUE(MoveFileExW(file.wstring().c_str(), renamed.wstring().c_str(), 0)) << GetLastError();
    EXPECT_TRUE(ReadFileBytes(renamed) == body);
    c.Disconnect();

    // An error status goes into the file too: the caller decides what to keep.
    TWEBDAVConnection d(Dav().User, Dav().Password);
    Open(d, "GET", Url + "/fehlt.bin");
    d.ReceiveBodyInto(PathU8(file));
    d.Send();
    EXPECT_EQ(d.Status(), 404);
    EXPECT_NE(ReadFileBytes(file).find("Not Found"), std::string::npos);
    // A file that cannot be made is a failure before anything is sent.
    TWEBDAVConnection e(Dav().User, Dav().Password);
    Open(e, "GET", Url + "/Fotos/gro%C3%9F.bin");
    EXPECT_THROW(e.ReceiveBodyInto(PathU8(Local / "fehlt" / "x.part")), EWebDAVError);
}

TEST_F(Bodies, RequestBodyComesFromTheFileInPieces)
{
    struct Case {
        const char* name;
        size_t size;
    } cases[] = {{"leer.txt", 0}, {"klein.txt", 5}, {"Gro\xC3\x9F mit Blank.bin", 1024 * 1024 * 2 + 333}};
    for (const auto& k : cases) {
        const std::string body = Pattern(k.size);
        const fs::path file = Local / U8Path(k.name);
        WriteLocal(file, body);
        // Held open for writing by another program, as after a save from an editor.
        THandle held(CreateFileW(file.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        TWEBDAVConnection c(Dav().User, Dav().Password);
        Open(c, "PUT", Url + "/" + EncodeURLPath(k.name));
        c.SetRequestHeader("Content-type", "application/octet-stream");
        c.SendFile(PathU8(file));
        EXPECT_EQ(c.Status(), 201) << k.name;
        const auto t = c.Transferred();
        EXPECT_EQ(t.Sent, k.size);
        EXPECT_EQ(t.ToSend, k.size);
        EXPECT_TRUE(Dav().ReadFile(Box + "/" + k.name) == body) << k.name;
    }
    TWEBDAVConnection c(Dav().User, Dav().Password);
    Open(c, "PUT", Url + "/x.txt");
    EXPECT_THROW(c.SendFile(PathU8(Local / "fehlt.txt")), EWebDAVError);
}

// What goes wrong inside WinHTTP's notices fails the request and leaves the process alive.
TEST_F(Bodies, AFailureInsideTheNoticesFailsTheRequest)
{
    Dav().WriteFile(Box + "/a.bin", Pattern(600000));
    TWEBDAVConnection c(Dav().User, Dav().Password);
    size_t seen = 0;
    Open(c, "GET", Url + "/a.bin");
    c.ReceiveBody([&](const char*, size_t size) {
        seen += size;
        if (seen > 300000) throw std::bad_alloc();
    });
    EXPECT_THROW(c.Send(), EWebDAVError);
    EXPECT_EQ(c.ReadyState(), 4);
    EXPECT_THROW(c.Status(), EWebDAVError);
    Open(c, "GET", Url + "/a.bin");
    c.ReceiveBody([](const char*, size_t) { throw std::runtime_error("Platte voll"); });
    try {
        c.Send();
        ADD_FAILURE() << "no failure";
    } catch (const EWebDAVError& e) {
        EXPECT_NE(std::string(e.what()).find("Platte voll"), std::string::npos) << e.what();
    }
    // The same connection goes on with the next request.
    std::string got;
    Open(c, "GET", Url + "/a.bin");
    c.ReceiveBody([&](const char* data, size_t size) { got.append(data, size); });
    c.Send();
    EXPECT_EQ(c.Status(), 200);
    EXPECT_TRUE(got == Pattern(600000));
    c.Disconnect();
    for (int i = 0; i < 100 && TWEBDAVConnection::LiveRequests() > 0; ++i) Sleep(20);
    EXPECT_EQ(TWEBDAVConnection::LiveRequests(), 0u);
}

// A body shorter than its Content-Length (the connection broke off) is no complete answer.
TEST_F(Bodies, AnAnswerCutBeforeItsLengthFails)
{
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: ";
    const fs::path file = Local / "cut.part";
    {
        davtest::TOneShotServer server(head + "5000\r\n\r\n" + std::string(1200, 'x'));
        TWEBDAVConnection c("u", "p");
        Open(c, "GET", server.Url("/x.bin"));
        c.ReceiveBodyInto(PathU8(file));
        EXPECT_THROW(c.Send(), EWebDAVError);
        EXPECT_THROW(c.Status(), EWebDAVError);
        // The file is closed all the same.
        EXPECT_TRUE(DeleteFileW(file.wstring().c_str()));
    }
    {
        davtest::TOneShotServer server(head + "1200\r\n\r\n" + std::string(1200, 'x'));
        TWEBDAVConnection c("u", "p");
        Open(c, "GET", server.Url("/x.bin"));
        c.Send();
        EXPECT_EQ(c.Status(), 200);
        EXPECT_EQ(c.ResponseBody(), std::string(1200, 'x'));
    }
}

}  // namespace
