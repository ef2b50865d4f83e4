#pragma once
// Texts of the tray program beyond the shared tables, as pairs German / English, and its small text
// routines.
#include <string>

enum class TTrayText {
    RegisterFailed,      // the shell extension could not be registered
    UploadFailed,        // a saved file could not be uploaded (%s: file name)
    DocumentsKept,       // unsent documents kept in the open folder (%s: folder)
    DocumentsUploaded,   // open documents sent before disconnecting
    RefreshFailed,       // the tray refresh could not read the server
    ExplorerFailed,      // Explorer could not be started
    VersionCaption,      // caption of the version window
    VersionLabel,        // "Version: "
    DownloadFailed,      // the setup download failed or was incomplete
};

// The text at the given language (0 German, 1 English; anything else German).
const std::string& TrayTxt(TTrayText text, int language);

// Every CR becomes one blank; LF stays.
std::string ReplaceCR(const std::string& text);
// The first "%s" of format replaced by value (FormatTableText).
std::string FormatText(const std::string& format, const std::string& value);
