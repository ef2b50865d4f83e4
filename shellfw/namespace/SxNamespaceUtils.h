#pragma once
// Per-item helpers of the namespace: the run-time menu item that binds a copy of a provider menu
// item to the grains it acts on.
#ifdef _WIN32
#include "SxPopupMenu.h"

#include <windows.h>
#include <shlobj.h>

#include <string>
#include <vector>

class TSxCustomDataGrain;
class TSxCustomProvider;

class TSxMenuItem : public TSxBaseMenuItem {
public:
    // Bound to grain (nullptr: none) and copied from source (nullptr: nothing copied).
    TSxMenuItem(TSxComponent* owner, bool eventsOnly, TSxCustomDataGrain* grain, TSxBaseMenuItem* source);
    std::string ClassName() const override { return "TSxMenuItem"; }

    std::vector<TSxCustomDataGrain*> Grains;  // not owned
    HWND WindowHandle = nullptr;
    TSxCustomProvider* Provider = nullptr;    // the first grain's
    IShellFolder* ShellFolder = nullptr;      // not referenced
    bool EventsOnly = false;
    TSxBaseMenuItem* SourceItem = nullptr;
    std::string Verb;

    TSxCustomDataGrain* FirstGrain() const { return Grains.empty() ? nullptr : Grains.front(); }
    // The visible properties and the click handler of source, then a bound copy of each child.
    static void CopyMenuItem(const TSxBaseMenuItem& source, TSxMenuItem& target);
};
#endif
