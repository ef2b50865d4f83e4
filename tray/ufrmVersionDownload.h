#pragma once
// The modal window that tells the result of the version check and downloads and starts the setup
// of a new version.
#ifdef _WIN32
#include "uTDialogForm.h"
#include "uTLogger.h"

#include <functional>
#include <memory>
#include <string>

constexpr int kVersionInfoId = 110, kVersionPathLabelId = 111, kVersionPathId = 112, kVersionSearchId = 113,
              kVersionProgressId = 114, kVersionBannerId = 115, kVersionLogoId = 116;

class TfrmVersionDownload : public TDialogForm {
public:
    TfrmVersionDownload();
    ~TfrmVersionDownload() override;

    // Texts and visibility for one showing: result of CompareVersion (-1, 0, 1, 2), whether the
    // download controls show, the default target and the setup's address.
    void Prepare(int result, bool show, const std::string& targetPath, const std::string& setupUrl, int language);

    // What the window shows (also read by tests).
    std::string InfoText;
    std::string TargetPath;
    bool DownloadVisible = false;
    std::string SetupUrl;
    int Language = 0;
    std::unique_ptr<TLogger> Logger;   // "VersionDownload"

    // Test seams (empty: the real behaviour). The launcher starts the downloaded setup in place of
    // the shell; the shown function is called once the window is up, to drive it.
    using TLauncherFn = std::function<bool(HWND owner, const std::string& file)>;
    using TShownFn = std::function<void(TfrmVersionDownload& form)>;
    static void SetLauncherSeam(TLauncherFn fn);
    static void SetShownSeam(TShownFn fn);

    void btnSearchClick();
    // The download; true when the setup was complete and started (the window then closes).
    bool btnStartClick();
    HWND Window() const { return Handle; }

protected:
    HWND CreateControls() override;
    void Command(int id, int code) override;
    bool MayClose(int id) override;
    void Closing(int result) override;

private:
    HICON Logo = nullptr;
};
#endif
