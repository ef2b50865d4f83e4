#pragma once
// Buttons that the virtual folder's view puts into Explorer's toolbar while the folder is shown;
// each button stands for a menu item of a permanent module (its click is the command, its state
// the button's state). The product's own images are added to a toolbar's image list once per
// image list (two Explorer windows of one process each get them), and a text once per toolbar.
#ifdef _WIN32
#include "SxExplorerMenu.h"

#include <commctrl.h>

#include <string>
#include <vector>

enum class TSxExplorerButtonImage : uint8_t {
    biCustom,
    biCopy,
    biCut,
    buDelete,
    biFileNew,
    biFileOpen,
    biFileSave,
    biFind,
    biHelp,
    biPaste,
    biPrint,
    biPrintPre,
    biProperties,
    biRedow,
    biReplace,
    biUndo,
    biViewDetails,
    biViewLargeIcons,
    biViewList,
    biViewSmallIcons,
    biSortDate,
    biSortName,
    biSortSize,
    biSortType,
    biParentFolder,
    biNetConnect,
    biNetDisconnect,
    biNewFolder,
    biViewMenu
};

enum class TSxExplorerButtonStyle : uint8_t { bsButton, bsSeparator };

class TSxExplorerButton : public TSxExplorerControl {
public:
    std::string Hint;  // the button's text (tooltip and text beside the image)
    TSxExplorerButtonImage Image = TSxExplorerButtonImage::biCustom;
    int ImageIndex = 0;  // into the toolbar component's own images, for biCustom
    TSxExplorerButtonStyle Style = TSxExplorerButtonStyle::bsButton;
    bool ShowRightText = false;
    bool CheckButton = false;

    std::string DisplayName() const override;
};

// Where a standard image lies: in the standard (false) or the view (true) bitmap, at index.
struct TSxStandardImage {
    bool View;
    int Index;
};
// The standard image of a button image other than biCustom.
TSxStandardImage SxStandardImageOf(TSxExplorerButtonImage image);

class TSxExplorerToolbar : public TSxExplorerCustomControls {
public:
    using TSxExplorerCustomControls::TSxExplorerCustomControls;
    std::string ClassName() const override { return "TSxExplorerToolbar"; }

    std::vector<TSxExplorerButton> Buttons;
    HIMAGELIST Images = nullptr;       // for toolbars below 24 pixels (not owned)
    HIMAGELIST LargeImages = nullptr;  // for toolbars of 24 pixels and more (not owned)

    // Merges the buttons into Explorer's toolbar through browser (identifiers from 2000).
    void AttachControls(const TSxModuleList& modules, IShellBrowser* browser, UINT state) override;
    // Fills buttons (room for capacity entries) for the system view's toolbar with identifiers
    // from firstId; the number of entries filled.
    int FillToolbarButtons(const TSxModuleList& modules, IShellBrowser* browser, TBBUTTON* buttons, int capacity,
                           int32_t firstId);
    TSxBaseMenuItem* GetMenuItemByCommand(int32_t command) const override;
    void DetachControls(IShellBrowser* browser) override;
    void ReleaseMenuItem(const TSxBaseMenuItem& item) override;

protected:
    std::vector<TSxExplorerControl*> Controls() override;

private:
    // The button entries in collection order, through the toolbar of browser.
    std::vector<TBBUTTON> Fill(IShellBrowser* browser, int32_t firstId, size_t count);
    std::vector<TSxBaseMenuItem*> FCommands;  // entry k: the item of command CommandOffset + k
};

#endif
