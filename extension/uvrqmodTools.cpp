#include "uvrqmodTools.h"

#include "uGLBConst.h"
#include "uGLBShellTools.h"
#include "uGLBTools.h"
#include "uGLBWin.h"

#include <stdexcept>

std::string Pair(const char* german, const char* english) { return GetLanguage() == 1 ? english : german; }

TBusyCursor::TBusyCursor() { SetBusyCursor(true); }
TBusyCursor::~TBusyCursor() { SetBusyCursor(false); }

void MakeDirectories(const std::string& folder)
{
    try {
        shl_ForceDirectories(folder);
    } catch (const std::exception&) {
    }
}

void ForEachFileBelow(const std::string& directory, const std::function<void(const std::string&)>& fn)
{
    shl_WalkTree(
        Utf8ToWide(directory),
        [&](const TShellTreeEntry& entry) {
            if (!entry.Folder)
                fn(WideToUtf8(entry.Path));
            return TShellWalk::Continue;
        },
        TShellWalkOrder::FoldersFirst);
}
