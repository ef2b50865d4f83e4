#pragma once
// Test side of the private Apache WebDAV server (tools/dav-server).
//
// How it runs: the ctest fixture "dav" (sx_add_test(... DAV), cmake/Common.cmake) starts one server
// per build before the first test that needs it and stops it after the last; it writes
// <build>/dav/dav-server.txt (port, url, tree, log, credentials). A Windows test under wine finds that
// file through SX_BINARY_DIR (or SX_DAV_INFO) and reaches the Linux paths as Z:\... .
//
// Tests run in parallel against the one server, so each test works in its own sandbox: a fresh folder
// below the tree whose URL is the host setting of that test (the host may carry a base path). Seeding is
// plain file writing into the tree (fast; a default ACL on the tree lets Apache's www-data workers
// change what root wrote). The access log is shared: read it from a mark and filter by your sandbox.
// Apache writes a log line after it sent the answer, so LogSince waits for the lines it is asked for.
#ifdef _WIN32
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace davtest {

// One line of the access log, as Apache received the request.
struct TDavLogLine {
    std::string Method;
    std::string Path;          // decoded request path, UTF-8 ("/dav/sandbox/a b.txt")
    int Status = 0;
    std::string Depth, Destination, Overwrite, ContentType, CacheControl, Pragma;   // "" when absent
    std::string RequestLine;   // raw, as sent ("PROPFIND /dav/sandbox/a%20b.txt HTTP/1.1")
};

class ApacheFixture {
public:
    // The running server of this build; throws std::runtime_error when the fixture is not up.
    static ApacheFixture& Instance();

    int Port = 0;
    std::string Url;         // "http://127.0.0.1:<port>/dav"
    std::string UrlNoDepth;  // the same tree under "/dav-nodepth", which refuses Depth infinity (403)
    std::string User, Password;
    std::filesystem::path Tree, Log, Sample;   // Windows-side paths (Z:\...); Sample is a JPEG
    std::filesystem::path CannedDir;
    std::string CannedUrl;

    // Makes the sandbox folder <tree>\<name> fresh and empty (an older one is moved aside); returns its URL (Url + "/" + name),
    // to be used as the host setting. name is plain ASCII.
    std::string Sandbox(const std::string& name) const;
    // Sandbox(prefix + the running test's name, lower case, other characters as "_"); name receives
    // that folder's name.
    std::string TestSandbox(const std::string& prefix, std::string& name) const;
    // The settings of a storage client of this server: the host, the account and the user path
    // (install folder too; log level 2, German).
    void ConnectClient(const std::string& host, const std::string& userPath) const;
    // The local file of a server path below the tree ("sandbox/Fotos/a.jpg", "/" or "\" separated, UTF-8).
    std::filesystem::path Local(const std::string& serverPath) const;
    void MakeFolder(const std::string& serverPath) const;                        // with parents
    void WriteFile(const std::string& serverPath, const std::string& bytes) const;   // parents made
    // The bytes of the seeded picture of a server path: Sample with a comment of fixed length
    // made from the path, so that every seeded picture decodes as Sample, is as long as every
    // other one and has bytes of its own (a test can tell which picture arrived).
    std::string Picture(const std::string& serverPath) const;
    void PutPicture(const std::string& serverPath) const;                        // writes Picture(serverPath)
    std::string ReadFile(const std::string& serverPath) const;
    bool Exists(const std::string& serverPath) const;

    // A recorded answer: any request to the returned URL (or below it) gets `status` ("500 Internal
    // Server Error"), the content type and the body, without authentication, after delaySeconds.
    std::string Canned(const std::string& name, const std::string& status, const std::string& contentType,
                       const std::string& body, int delaySeconds = 0) const;

    // Byte size of the access log now: lines after it belong to requests made later.
    size_t LogMark() const;
    // Lines written after mark whose path starts with pathPrefix ("/dav/<sandbox>"); waits up to
    // timeoutMs until at least atLeast such lines are there.
    std::vector<TDavLogLine> LogSince(size_t mark, const std::string& pathPrefix, size_t atLeast = 1,
                                      int timeoutMs = 5000) const;

private:
    ApacheFixture() = default;
};

// Writes a whole local file: makes the parents and replaces the file (ReadFileBytes reads one).
void WriteLocal(const std::filesystem::path& p, const std::string& bytes);

// UTF-8 text <-> filesystem path (the tree holds UTF-8 names).
std::filesystem::path U8Path(const std::string& utf8);
std::string PathU8(const std::filesystem::path& p);

}  // namespace davtest
#endif
