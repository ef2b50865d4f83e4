// Brannock.dll's twin for the tests that drive it through COM: the same sources and entry, plus
// what a headless test needs from inside the library: the answers to its modal questions, and
// the folder-menu callbacks that Wine's default folder menu never calls (Windows' does).
#include "SxNamespaceUtils.h"
#include "SxShellFolder.h"
#include "SxShellView.h"
#include "uTvrqDialog.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

extern "C" {

// One question: kind (TvrqQuestionKind), caption, text and the proposed name in; the answer code
// out, with the delete form's permanent choice (0/1) and the new-folder form's typed name.
typedef int (*TBrTestAnswerFn)(void* context, int kind, const char* caption, const char* text, const char* name,
                               int* permanent, char* typedName, int typedSize);

// Answers every question of the library through fn from now on; nullptr restores the real windows.
__declspec(dllexport) void BrTestSetAnswers(TBrTestAnswerFn fn, void* context)
{
    if (!fn) {
        SetDialogAnswers(nullptr);
        return;
    }
    SetDialogAnswers([fn, context](TvrqQuestion& question) {
        int permanent = question.Permanent ? 1 : 0;
        char typed[1024] = {};
        lstrcpynA(typed, question.Name.c_str(), sizeof typed);
        const int answer = fn(context, static_cast<int>(question.Kind), question.Caption.c_str(),
                              question.Text.c_str(), question.Name.c_str(), &permanent, typed, sizeof typed);
        question.Permanent = permanent != 0;
        question.Name = typed;
        return answer;
    });
}

// What the system's default folder menu sends its callback (item or background menu).
__declspec(dllexport) HRESULT BrTestMenuCallback(int background, IShellFolder* folder, HWND owner,
                                                 IDataObject* dataObject, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return background ? BackgroundMenuCallback(folder, owner, dataObject, msg, wParam, lParam)
                      : ItemMenuCallback(folder, owner, dataObject, msg, wParam, lParam);
}

// 1: the folder's view hands out the framework's own item menu; 0: the system's (the product's).
__declspec(dllexport) void BrTestSetMenuOrigin(IShellFolder* shellFolder, int own)
{
    auto* folder = dynamic_cast<TSxCustomShellFolder*>(SxShellObjectOf(shellFolder));
    if (TSxCustomShellView* view = folder ? folder->GetShellView() : nullptr)
        view->Settings.ContextMenuOrigin =
            own ? TSxContextMenuOrigin::cmoTessolark : TSxContextMenuOrigin::cmoSystemDefault;
}

// The framework's own background menu of the folder, with its paste (the product shows the
// system's, whose callback Wine never calls).
__declspec(dllexport) HRESULT BrTestBackgroundMenu(IShellFolder* shellFolder, IContextMenu** menu)
{
    auto* folder = dynamic_cast<TSxCustomShellFolder*>(SxShellObjectOf(shellFolder));
    if (!menu || !folder)
        return E_INVALIDARG;
    return TSxNamespaceCustomUtil::Make<TSxNamespaceBackgroundMenu>(IID_IContextMenu, reinterpret_cast<void**>(menu),
                                                                    *folder, nullptr, nullptr, false);
}
}
