// Large transfers of the storage client against the private Apache WebDAV server: memory stays flat,
// the real progress window moves by bytes, and its Cancel stops a running download or upload at once
// and leaves the target as it was.
#include "ApacheFixture.h"
#include "SettingsFixture.h"
#include "TestFiles.h"
#include "TestMemory.h"
#include "uGLBWin.h"
#include "uTWEBDAVClient.h"
#include "uTvrqDialog.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using davtest::ApacheFixture;
using davtest::PathU8;
using davtest::U8Path;
using davtest::WriteLocal;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// The piece of a large test file at offset: every megabyte differs, so a piece out of place shows.
void FillPiece(std::vector<char>& piece, uint64_t offset)
{
    for (size_t i = 0; i < piece.size(); i += 8) {
        const uint64_t v = (offset + i) * 0x9E3779B97F4A7C15ull;
        std::memcpy(piece.data() + i, &v, std::min<size_t>(8, piece.size() - i));
    }
}

// Writes a large file piece by piece, so the test process itself never holds it.
void WriteLarge(const fs::path& p, uint64_t size)
{
    fs::create_directories(p.parent_path());
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    std::vector<char> piece(kMiB);
    for (uint64_t at = 0; at < size; at += piece.size()) {
        FillPiece(piece, at);
        out.write(piece.data(), static_cast<std::streamsize>(std::min<uint64_t>(piece.size(), size - at)));
    }
    ASSERT_TRUE(out.good()) << PathU8(p);
}

// True when the file holds exactly what WriteLarge(size) wrote.
bool HoldsLarge(const fs::path& p, uint64_t size)
{
    std::error_code ec;
    if (fs::file_size(p, ec) != size) return false;
    std::ifstream in(p, std::ios::binary);
    std::vector<char> piece(kMiB), got(kMiB);
    for (uint64_t at = 0; at < size; at += piece.size()) {
        const auto n = static_cast<size_t>(std::min<uint64_t>(piece.size(), size - at));
        FillPiece(piece, at);
        in.read(got.data(), static_cast<std::streamsize>(n));
        if (!in || std::memcmp(piece.data(), got.data(), n) != 0) return false;
    }
    return true;
}

// The bar of the shell progress window: its position in parts of its range (0 to 1).
double BarFraction(HWND window)
{
    const HWND bar = FindWindowExW(window, nullptr, PROGRESS_CLASSW, nullptr);
    if (!bar) return -1;
    const auto pos = static_cast<double>(SendMessageW(bar, PBM_GETPOS, 0, 0));
    const auto high = static_cast<double>(SendMessageW(bar, PBM_GETRANGE, FALSE, 0));
    const auto low = static_cast<double>(SendMessageW(bar, PBM_GETRANGE, TRUE, 0));
    return high > low ? (pos - low) / (high - low) : -1;
}

class Transfers : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        DeleteSettingsBranch();
        const std::string host = Dav().TestSandbox("transfer_", Box);
        const std::string user = MakeTempFolder("transfer");
        User = U8Path(user.substr(0, user.size() - 1));
        Dav().ConnectClient(host, user);
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(User, ec);
        DeleteSettingsBranch();
        CoUninitialize();
    }
    static const ApacheFixture& Dav() { return ApacheFixture::Instance(); }
    std::string Srv(const std::string& p) const { return Box + "/" + p; }
    std::vector<std::string> Names(const fs::path& dir) const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(PathU8(e.path().filename()));
        std::sort(names.begin(), names.end());
        return names;
    }

    // Presses Cancel on the real progress window once the bar moved by bytes (but not to its end),
    // from a second thread while the operation runs on this one. Returns when it was pressed.
    class TCancelDriver {
    public:
        explicit TCancelDriver(TvrqProgress& progress) : Window(progress.WindowHandle())
        {
            Driver = std::thread([this] {
                for (int i = 0; i < 3000 && !Stop; ++i) {
                    const double f = BarFraction(Window);
                    if (f > 0 && f < 0.9) {
                        Moved = f;
                        Pressed = Clock::now();
                        SendMessageW(GetDlgItem(Window, IDCANCEL), BM_CLICK, 0, 0);
                        Done = true;
                        return;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                }
            });
        }
        ~TCancelDriver() { Finish(); }
        void Finish()
        {
            Stop = true;
            if (Driver.joinable()) Driver.join();
        }
        HWND Window;
        std::atomic<bool> Stop{false}, Done{false};
        double Moved = 0;
        Clock::time_point Pressed;
        std::thread Driver;
    };

    std::string Box;
    fs::path User;
};

// A large download and upload hold only pieces of the file: the process's peak stays far below it.
TEST_F(Transfers, LargeFilesGoThroughInPiecesWithFlatMemory)
{
    const uint64_t size = 256 * kMiB;
    WriteLarge(Dav().Local(Srv("Fotos/gro\xC3\x9F.bin")), size);
    const fs::path local = User / U8Path("gro\xC3\x9F.bin");
    const uint64_t start = MemoryBytes();
    {
        TvrqDialog dialog;
        TWEBDAVClient client;
        EXPECT_TRUE(client.Download("Fotos\\gro\xC3\x9F.bin", PathU8(local), dialog));
        EXPECT_TRUE(client.Upload(PathU8(local), "Fotos\\zur\xC3\xBC" "ck.bin", dialog));
    }
    const uint64_t peak = PeakMemoryBytes();
    EXPECT_LT(peak - start, 64 * kMiB) << "start " << start / kMiB << " MiB, peak " << peak / kMiB << " MiB";
    EXPECT_TRUE(HoldsLarge(local, size));
    EXPECT_TRUE(HoldsLarge(Dav().Local(Srv("Fotos/zur\xC3\xBC" "ck.bin")), size));
    EXPECT_EQ(Names(User), (std::vector<std::string>{"Download", "WEBDAVClient.log", "gro\xC3\x9F.bin"}));
}

// Cancel on the real window in mid-transfer: the operation returns within half a second, the local
// target of a download and the server file of an upload stay as they were, and nothing partial remains.
TEST_F(Transfers, CancelStopsARunningTransferAtOnceAndKeepsTheTarget)
{
    const uint64_t size = 128 * kMiB;
    WriteLarge(Dav().Local(Srv("gross.bin")), size);
    Dav().WriteFile(Srv("Ziel/gross.bin"), "alt auf dem Server");
    const fs::path local = User / "gross.bin";
    WriteLocal(local, "alt");
    const fs::path upload = User / "hoch" / "gross.bin";
    WriteLarge(upload, size);
    for (const bool down : {true, false}) {
        TvrqDialog dialog;
        dialog.Progress.Start("Transfer", 0, true);
        ASSERT_TRUE(dialog.Progress.WindowHandle()) << "the shell progress window";
        TWEBDAVClient client;
        TCancelDriver driver(dialog.Progress);
        const bool result = down ? client.Download("gross.bin", PathU8(local), dialog)
                                 : client.Upload(PathU8(upload), "Ziel\\gross.bin", dialog);
        const auto returned = Clock::now();
        driver.Finish();
        ASSERT_TRUE(driver.Done) << "the bar never moved by bytes (" << down << ")";
        EXPECT_FALSE(result) << down;
        EXPECT_LT(std::chrono::duration<double>(returned - driver.Pressed).count(), 0.5) << down;
    }
    EXPECT_EQ(ReadFileBytes(local), "alt");
    EXPECT_EQ(Names(User), (std::vector<std::string>{"Download", "WEBDAVClient.log", "gross.bin", "hoch"}));
    // The server stores a PUT only when all of it came; an aborted one leaves the old file alone.
    for (int i = 0; i < 100 && Names(Dav().Local(Srv("Ziel"))).size() > 1; ++i) Sleep(20);
    EXPECT_EQ(Names(Dav().Local(Srv("Ziel"))), (std::vector<std::string>{"gross.bin"}));
    EXPECT_EQ(Dav().ReadFile(Srv("Ziel/gross.bin")), "alt auf dem Server");
}

}  // namespace
