#include "TrayFixture.h"

#include "uGLBShellTools.h"
#include "uTVirtualFileStorage.h"

#include <shlobj.h>

namespace traytest {

std::string InstallFolder()
{
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return WideToUtf8(folder) + "trayinstall\\";
}

std::string FreshFolder(const std::string& tag)
{
    std::string folder = MakeTempFolder(tag.c_str());
    return folder;
}

bool FolderExists(const std::string& path) { return shl_DirectoryExists(path); }
bool FileExistsAt(const std::string& path) { return shl_FileExists(path); }

bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= until)
            return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

std::string AutoStartValue()
{
    TRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_QUERY_VALUE,
                      key.put()) != ERROR_SUCCESS)
        return "<none>";
    wchar_t data[1024] = {};
    DWORD size = sizeof data, type = 0;
    if (RegQueryValueExW(key.get(), L"Tandrel Sendrake", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
        ERROR_SUCCESS)
        return "<none>";
    return WideToUtf8(data);
}

bool ExtensionRegistered()
{
    TRegKey key;
    const std::wstring path =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MyComputer\\Namespace\\" + Utf8ToWide(OnlineFolderCLSID);
    return RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

void TrayTest::SetUp()
{
    SettingsTest::SetUp();
    auto& dav = davtest::ApacheFixture::Instance();
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    Sandbox = dav.Sandbox("tray_" + name);
    StoreString("Connection", "host", Sandbox);
    // The update server: a closed port answers at once.
    StoreString("Application", "update", "http://127.0.0.1:9/downloads/");
    const std::string appData = FreshFolder("appdata_" + name);
    SetEnvironmentVariableW(L"APPDATA", Utf8ToWide(appData.substr(0, appData.size() - 1)).c_str());
    UserPath = appData + "Tandrel Sendrake\\";
    // Windows has the per-user run key; a fresh prefix may not.
    TRegKey run;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0, nullptr, 0, KEY_WRITE,
                    nullptr, run.put(), nullptr);
    RegDeleteValueW(run.get(), L"Tandrel Sendrake");
    TfrmVaultmereMain::ProcessStarter.Set([this](const std::string& line) {
        Started.push_back(line);
        return true;
    });
}

void TrayTest::TearDown()
{
    if (Form && Form->Handle) {
        // Leave nothing registered behind.
        RegisterDLL(InstallFolder() + "Brannock.dll", 0);
    }
    Form.reset();
    TfrmVaultmereMain::ProcessStarter.Set({});
    SettingsTest::TearDown();
}

TfrmVaultmereMain& TrayTest::Start(const std::string& install)
{
    Form = std::make_unique<TfrmVaultmereMain>(install + "Sendrake.exe");
    EXPECT_TRUE(Form->FormCreate());
    Form->Show();
    return *Form;
}

void TrayTest::Login(const std::string& password)
{
    auto& dav = davtest::ApacheFixture::Instance();
    Form->SetText(Form->txtUsername, dav.User);
    Form->SetText(Form->txtPwd, password.empty() ? dav.Password : password);
    Form->btnConnectClick();
}

bool WriteOpenSidecar(const std::string& document, const std::string& folder, const std::string& name)
{
    // As the extension writes it when it opens a document; the mirror's root plays no part in it.
    TVirtualFileRecord record;
    TVirtualFileStorage::InitRecord(record);
    TVirtualFileStorage storage(shl_ExtractFilePath(document));
    return storage.WriteSidecar(document, record, shl_WithSlash(folder) + name, shl_FileLastWrite(document));
}

} // namespace traytest
