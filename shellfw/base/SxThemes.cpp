#include "SxThemes.h"

#ifdef _WIN32
#include "SxTools.h"

TSxContext::TSxContext()
{
    wchar_t file[MAX_PATH + 1] = {};
    if (!GetModuleFileNameW(SxModuleHandle(), file, MAX_PATH))
        return;
    ACTCTXW context{};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID;
    context.lpSource = file;
    context.lpResourceName = MAKEINTRESOURCEW(2);
    context.hModule = SxModuleHandle();
    FContext = CreateActCtxW(&context);
    if (FContext != INVALID_HANDLE_VALUE && !ActivateActCtx(FContext, &FCookie))
        FCookie = 0;
}

TSxContext::~TSxContext()
{
    if (FCookie)
        DeactivateActCtx(0, FCookie);
    if (FContext != INVALID_HANDLE_VALUE)
        ReleaseActCtx(FContext);
}
#endif
