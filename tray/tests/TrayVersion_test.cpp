// The version check against answers of a local HTTP server, the version window, and the setup
// download: only a complete download is ever started.
#include "TrayFixture.h"

#include "OneShotServer.h"
#include "ufrmVersionDownload.h"
#include "uGLBConst.h"
#include "uTrayHttp.h"
#include "uTVersionInfo.h"
#include "uTrayTexts.h"
#include "WindowFit.h"
#include "uTvrqDialog.h"

#include <commctrl.h>

#include <fstream>
#include <sstream>

using namespace traytest;

namespace {

// An answer that announces more bytes than it sends, then closes: a download cut off midway.
std::string CutAnswer(size_t announced, size_t sent)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " + std::to_string(announced) +
           "\r\nConnection: close\r\n\r\n" + std::string(sent, 'x');
}

class TrayVersionTest : public TrayTest {
protected:
    void SetUp() override
    {
        TrayTest::SetUp();
        TfrmVersionDownload::SetLauncherSeam([this](HWND, const std::string& file) {
            Launched.push_back(file);
            return true;
        });
        TfrmVersionDownload::SetShownSeam([this](TfrmVersionDownload& form) {
            Shown.push_back({form.InfoText, form.DownloadVisible, form.Caption, form.SetupUrl});
            PostMessageW(form.Window(), WM_COMMAND, IDCANCEL, 0);
        });
    }
    void TearDown() override
    {
        TfrmVersionDownload::SetShownSeam(nullptr);
        TfrmVersionDownload::SetLauncherSeam(nullptr);
        TrayTest::TearDown();
    }
    // An update folder whose every file answers with the given status and body.
    std::string UpdateFolder(const std::string& name, const std::string& status, const std::string& body)
    {
        return davtest::ApacheFixture::Instance().Canned(name, status, "text/plain", body) + "/";
    }
    struct TShown {
        std::string Text;
        bool Download;
        std::string Caption;
        std::string SetupUrl;
    };
    std::vector<TShown> Shown;
    std::vector<std::string> Launched;
};

// The version resource of a binary: its numbers and the texts of its German string table.
struct TVersionResource {
    std::string Numbers, FileVersion, ProductVersion;
};
TVersionResource VersionResourceOf(const std::string& file)
{
    TVersionResource v;
    const std::wstring name = Utf8ToWide(file);
    DWORD ignored = 0;
    std::vector<BYTE> data(GetFileVersionInfoSizeW(name.c_str(), &ignored));
    if (data.empty() || !GetFileVersionInfoW(name.c_str(), 0, static_cast<DWORD>(data.size()), data.data()))
        return v;
    void* value = nullptr;
    UINT size = 0;
    if (VerQueryValueW(data.data(), L"\\", &value, &size) && size >= sizeof(VS_FIXEDFILEINFO)) {
        const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
        v.Numbers = std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS)) +
                    "." + std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
                    std::to_string(LOWORD(fixed->dwFileVersionLS));
    }
    for (auto [key, out] : {std::pair{L"\\StringFileInfo\\040704B0\\FileVersion", &v.FileVersion},
                            std::pair{L"\\StringFileInfo\\040704B0\\ProductVersion", &v.ProductVersion}})
        if (VerQueryValueW(data.data(), key, &value, &size) && size > 0)
            *out = WideToUtf8(static_cast<const wchar_t*>(value));
    return v;
}

// The text of the binary's manifest resource ("" when it has none).
std::string ManifestOf(const std::string& file)
{
    HMODULE module = LoadLibraryExW(Utf8ToWide(file).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return "";
    std::string text;
    for (WORD id : {1, 2}) {
        HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(24));
        HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
        if (loaded && LockResource(loaded)) {
            text.assign(static_cast<const char*>(LockResource(loaded)), SizeofResource(module, found));
            break;
        }
    }
    FreeLibrary(module);
    return text;
}

// Both shipped binaries carry the program's own version, the one the version check compares and
// the windows show: in the version resource's numbers and texts and in their manifest's identity.
TEST(ShippedBinaries, CarryTheProgramsOneVersion)
{
    const std::string version = SendrakeVersion;
    for (const char* binary : {"Sendrake.exe", "Brannock.dll"}) {
        const std::string file = InstallFolder() + binary;
        const TVersionResource resource = VersionResourceOf(file);
        EXPECT_EQ(resource.Numbers, version) << binary;
        EXPECT_EQ(resource.FileVersion, version) << binary;
        EXPECT_EQ(resource.ProductVersion, version) << binary;
        const std::string identity = std::string("name=\"Tandrel.") +
                                     std::string(binary).substr(0, std::string(binary).find('.')) +
                                     "\" version=\"" + version + "\"";
        EXPECT_NE(ManifestOf(file).find(identity), std::string::npos) << binary << ": " << ManifestOf(file);
    }
}

TEST_F(TrayVersionTest, EachServerAnswerGivesItsTextAndDownloadControls)
{
    auto& f = Start();
    const int l = f.Environment->Language;
    struct TRow {
        const char* Name;
        std::string Status, Body;
        std::string Text;
        bool Download;
    } const rows[] = {
        {"newer", "200 OK", "<system>Windows</system>\r\n<version>1.2.1.52</version>", Txt(92, l), true},
        {"same", "200 OK", std::string("<version>") + SendrakeVersion + "</version>", Txt(91, l), false},
        {"older", "200 OK", "<version>1.2.0.9</version>", Txt(91, l), false},
        {"tens", "200 OK", "<version>1.10.0.0</version>", Txt(92, l), true},
        {"forced", "200 OK", "<version>F1.3.0.0</version>", Txt(92, l), true},
        {"split", "200 OK", "<vers\r\nion>1.3.0.0</version>", Txt(92, l), true},
        {"missing", "404 Not Found", "nicht da", Txt(95, l), false},
        {"noversion", "200 OK", "<system>Windows</system>", Txt(95, l), false},
    };
    for (const TRow& row : rows) {
        StoreString("Application", "update", UpdateFolder(std::string("ver_") + row.Name, row.Status, row.Body));
        f.Environment->Update = ReadRegistryString("Application", "update", "");
        Shown.clear();
        f.btnVersioncheckClick();
        ASSERT_EQ(Shown.size(), 1u) << row.Name;
        EXPECT_EQ(Shown[0].Text, row.Text) << row.Name;
        EXPECT_EQ(Shown[0].Download, row.Download) << row.Name;
        EXPECT_EQ(Shown[0].Caption, "Versionsdownload");
    }
    EXPECT_FALSE(FileExistsAt(f.Environment->Install + VersionFileName)) << "the version file is not left behind";
}

TEST_F(TrayVersionTest, TheSetupComesFromTheProgramsOwnAddressWhateverTheSettingsSay)
{
    auto& f = Start();
    // Any program of the user may write the update setting; the elevated program starts what it
    // downloads, so the setting only finds the version file.
    StoreString("Application", "update", UpdateFolder("ver_elsewhere", "200 OK", "<version>1.2.1.52</version>"));
    f.Environment->Update = ReadRegistryString("Application", "update", "");
    f.btnVersioncheckClick();
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_TRUE(Shown[0].Download);
    EXPECT_EQ(Shown[0].SetupUrl, "http://download.tandrel-vaultmere.de/downloads/tandrel_vaultmere_sendrake.exe");
    // Tests reach a server of their own through the seam only.
    SetSetupAddressForTests("http://127.0.0.1:9/downloads/tandrel_vaultmere_sendrake.exe");
    f.btnVersioncheckClick();
    SetSetupAddressForTests("");
    ASSERT_EQ(Shown.size(), 2u);
    EXPECT_EQ(Shown[1].SetupUrl, "http://127.0.0.1:9/downloads/tandrel_vaultmere_sendrake.exe");
    EXPECT_EQ(SetupAddress(), "http://download.tandrel-vaultmere.de/downloads/tandrel_vaultmere_sendrake.exe");
}

// The window of every result in both languages, with its download controls shown: the banner,
// the logo, the hints of the two buttons, and every control and caption whole. Screenshots of the
// newer-version window are kept in <build>/artifacts.
TEST_F(TrayVersionTest, TheWindowFitsInBothLanguagesWithBannerLogoAndHints)
{
    struct TSeen {
        std::vector<std::string> Faults{"not shown"};
        bool Banner = false, Logo = false, Shot = false;
        std::string StartHint, SearchHint, StartCaption;
    };
    for (int language : {0, 1}) {
        for (int result : {-1, 0, 1}) {
            TSeen seen;
            TfrmVersionDownload::SetShownSeam([&](TfrmVersionDownload& form) {
                HWND w = form.Window();
                seen.Faults = fittest::FitFaults(w);
                seen.Banner = SendDlgItemMessageW(w, kVersionBannerId, STM_GETIMAGE, IMAGE_BITMAP, 0) != 0;
                seen.Logo = SendDlgItemMessageW(w, kVersionLogoId, STM_GETICON, 0, 0) != 0;
                seen.StartHint = fittest::HintOf(w, GetDlgItem(w, mrOk));
                seen.SearchHint = fittest::HintOf(w, GetDlgItem(w, kVersionSearchId));
                seen.StartCaption = WindowTextUtf8(GetDlgItem(w, mrOk));
                if (result == 1)
                    seen.Shot = fittest::SaveWindowShot(
                        w, fittest::ArtifactPath(language ? "version-window-en.png" : "version-window-de.png"));
                PostMessageW(w, WM_COMMAND, IDCANCEL, 0);
            });
            TfrmVersionDownload form;
            form.Prepare(result, true, "C:\\Program Files\\Tandrel Sendrake\\Update\\tandrel_vaultmere_sendrake.exe",
                         "http://127.0.0.1:1/downloads/tandrel_vaultmere_sendrake.exe", language);
            form.ShowModal();
            const std::string which = std::to_string(language) + "/" + std::to_string(result);
            EXPECT_EQ(seen.Faults, std::vector<std::string>{}) << which;
            EXPECT_TRUE(seen.Banner) << which;
            EXPECT_TRUE(seen.Logo) << which;
            EXPECT_EQ(seen.StartCaption, Txt(22, language)) << which;
            EXPECT_EQ(seen.StartHint, Txt(23, language)) << which;
            EXPECT_EQ(seen.SearchHint, Txt(15, language)) << which;
            if (result == 1) {
                EXPECT_TRUE(seen.Shot) << which;
            }
        }
    }
}

TEST_F(TrayVersionTest, AForcedNewVersionOpensTheWindowAtLogin)
{
    StoreString("Application", "update", UpdateFolder("ver_login", "200 OK", "<version>F9.0.0.0</version>"));
    auto& f = Start();
    Login();
    ASSERT_EQ(Shown.size(), 1u);
    EXPECT_TRUE(Shown[0].Download);
    EXPECT_EQ(f.sxTrayIcon.InfoText, Txt(99, f.Environment->Language) + "\r\n\r\n" + Txt(93, f.Environment->Language));
    EXPECT_TRUE(IsWindowVisible(f.Handle));
    f.btnConnectClick();
}

TEST_F(TrayVersionTest, OnlyACompleteSetupIsStarted)
{
    auto& dav = davtest::ApacheFixture::Instance();
    Start();
    const std::string target = FreshFolder("setup") + "Neue Version\\tandrel_vaultmere_sendrake.exe";
    std::string setup(300000, '\0');
    for (size_t i = 0; i < setup.size(); ++i)
        setup[i] = char(i * 7);
    TfrmVersionDownload form;
    form.Prepare(1, true, target, dav.Canned("setup_ok", "200 OK", "application/octet-stream", setup) + "/x.exe", 1);
    ASSERT_TRUE(form.btnStartClick());
    ASSERT_EQ(Launched.size(), 1u);
    EXPECT_EQ(Launched[0], target);
    std::ifstream in(Utf8ToWide(target).c_str(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), setup);
    in.close();

    // A download cut off after a part of the announced bytes, and one refused: an older file left
    // at the path is never started either.
    Launched.clear();
    {
        davtest::TOneShotServer cut(CutAnswer(500000, 1000));
        form.Prepare(1, true, target, cut.Url("/downloads/x.exe"), 1);
        EXPECT_FALSE(form.btnStartClick());
    }
    form.Prepare(1, true, target, dav.Canned("setup_404", "404 Not Found", "text/plain", "weg") + "/x.exe", 1);
    EXPECT_FALSE(form.btnStartClick());
    EXPECT_EQ(form.InfoText, TrayTxt(TTrayText::DownloadFailed, 1));
    EXPECT_TRUE(Launched.empty());
    EXPECT_FALSE(FileExistsAt(target + ".part"));
}

} // namespace
