#pragma once
// The tray program's plain HTTP: the version file and the setup of a new version.
#ifdef _WIN32
#include "uTApplicationEnviroment.h"
#include "uTLogger.h"

#include <cstdint>
#include <functional>
#include <string>

// The version file beside the setup on the update server.
extern const char* const VersionFileName;   // "tandrel_vaultmere_sendrake.exe.txt"
extern const char* const SetupFileName;     // "tandrel_vaultmere_sendrake.exe"
// Where the setup of a new version comes from: the program's own fixed address on the download
// host. The elevated program starts what it fetches, so no setting that any program of the user
// may change chooses it.
std::string SetupAddress();
// Test seam: the address SetupAddress gives instead ("" restores the fixed one).
void SetSetupAddressForTests(const std::string& url);

// URLDownloadToFile of url into file (a cached copy is never taken); true for S_OK. Failures are
// logged as ERROR "HTTP_DownloadFile: ...".
bool HTTP_DownloadFile(const std::string& url, const std::string& file, TLogger& log);
// The version the update server announces, or "FNIL".
std::string HTTP_CheckVersion(const TApplicationEnviroment& env, TLogger& log);

// Progress of a download: bytes so far and the expected total (0 when the server did not say).
using TDownloadProgress = std::function<void(uint64_t done, uint64_t total)>;
// GET of url into target. The bytes go to a file beside the target that replaces it only when the
// answer was 200 and every announced byte arrived, so a failed or cut download never leaves a file
// that could be taken for the setup. False with the reason in error.
bool DownloadSetup(const std::string& url, const std::string& target, const TDownloadProgress& progress,
                   std::string& error);
#endif
