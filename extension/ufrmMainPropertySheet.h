#pragma once
// The property page "Allgemein" of the online folder itself: version, the statistics of the last
// full refresh, and the button that empties the working folders.
#ifdef _WIN32
#include <string>

class TApplicationEnviroment;

// The page's texts and values.
struct TMainPageValues {
    std::string Version;                                     // "Version 1.2.1.51"
    std::string FoldersLabel, FilesLabel, SizeLabel;         // each followed by ":"
    std::string Folders = "?", Files = "?", Size = "?";     // "?" when a value cannot be read
    std::string DeleteCaption, DeleteHint;
};
TMainPageValues MainPageValues();

// Empties "Temp", "Download", "Thumb" and "Open" of the user path; the mirror stays. A document
// still open in its program stays in "Open" with its sidecar, so that its saving still reaches
// the server. Nothing here goes to the server.
void EmptyWorkingFolders(const TApplicationEnviroment& env);
#endif
