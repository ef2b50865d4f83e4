#pragma once
// The status bar component of a view: its parts with their texts, icons and widths, kept as a
// description for the view; no part of the system shows them in Explorer.
#ifdef _WIN32
#include "SxComponent.h"

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

class TSxPart {
public:
    int IconIndex = -1;
    std::string Text;
    int Width = 50;
    std::string DisplayName() const;
};

class TSxCustomDataGrain;

class TSxStatusBar : public TSxComponent {
public:
    using TSxComponent::TSxComponent;
    std::string ClassName() const override { return "TSxStatusBar"; }

    std::vector<TSxPart> Parts;
    HIMAGELIST Images = nullptr;  // not owned
    std::function<void(TSxStatusBar& sender, TSxCustomDataGrain* grain)> OnUpdateStatusBar;
};
#endif
