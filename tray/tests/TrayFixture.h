#pragma once
// What the tests of the tray program's main window share: a fresh settings branch, a user path of
// its own, the install folder with the program and the shell extension, the private WebDAV server,
// and the Explorer start recorded instead of carried out.
#include "ApacheFixture.h"
#include "SettingsFixture.h"
#include "uGLBConst.h"
#include "ufrmVaultmereMain.h"
#include "uGLBRegistry.h"
#include "uGLBWin.h"
#include "uTrayShellTools.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace traytest {

// The install folder the build fills (bin/trayinstall) beside this test program.
std::string InstallFolder();
// A fresh folder below the prefix's temp folder, ending in "\".
std::string FreshFolder(const std::string& tag);
bool FolderExists(const std::string& path);
bool FileExistsAt(const std::string& path);
// Pumps the thread's messages until done() or the time is up; true when done.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
// The sidecar the extension writes beside a document it opened (the record of server folder and
// name), marked with the document's time: the server has these bytes. False when it cannot be marked.
bool WriteOpenSidecar(const std::string& document, const std::string& folder, const std::string& name);
// The run key's autostart value, "<none>" when absent.
std::string AutoStartValue();
// The online folder's junction under My Computer.
bool ExtensionRegistered();

class TrayTest : public SettingsTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // The main window started as the program starts it, on the install folder given.
    TfrmVaultmereMain& Start(const std::string& install = InstallFolder());
    // Login with the fixture's account (or the password given) through the Connect button.
    void Login(const std::string& password = std::string());

    std::string Sandbox;                 // host setting of this test
    std::string UserPath;                // APPDATA of this test + "Tandrel Sendrake\"
    std::vector<std::string> Started;    // command lines of processes the program started
    std::unique_ptr<TfrmVaultmereMain> Form;
};

} // namespace traytest
