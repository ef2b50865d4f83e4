#pragma once
// The property page "Allgemein" of the online folder itself: version, the statistics of the last
// full refresh, and the button that empties the working folders.
#ifdef _WIN32
#include "SxPropertySheetForm.h"

#include <windows.h>

#include <string>

class TApplicationEnviroment;

// The page's texts and values.
struct TMainPageValues {
    std::string Version;                                     // "Version " + the program's version
    std::string FoldersLabel, FilesLabel, SizeLabel;         // each followed by ":"
    std::string Folders = "?", Files = "?", Size = "?";     // "?" when a value cannot be read
    std::string DeleteCaption, DeleteHint;
};
TMainPageValues MainPageValues();

// Empties "Temp", "Download", "Thumb" and "Open" of the user path; the mirror stays. A document
// still open in its program stays in "Open" with its sidecar, so that its saving still reaches
// the server. Nothing here goes to the server.
void EmptyWorkingFolders(const TApplicationEnviroment& env);

// The page form hosted by the folder's property-sheet handler (registered as
// "TfrmMainPropertySheet").
class TfrmMainPropertySheet : public TSxShellPropSheetForm {
public:
    using TSxShellPropSheetForm::TSxShellPropSheetForm;
    ~TfrmMainPropertySheet() override;

    static constexpr int VersionId = 300, LogoId = 301, InfoId = 302, FoldersLabelId = 303, FilesLabelId = 304,
                         SizeLabelId = 305, FoldersId = 306, FilesId = 307, SizeId = 308, DelTempId = 309, BannerId = 310;
    // Registers the form class for the page lines of the property-sheet handler (once).
    static void Register();

protected:
    void CreateControls() override;
    void Command(int id, int code) override;

private:
    HFONT FBold = nullptr;
    HICON FLogo = nullptr;
    HBITMAP FBanner = nullptr;
    HWND FHint = nullptr;
};
#endif
