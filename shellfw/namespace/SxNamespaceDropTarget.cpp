#include "SxNamespaceDropTarget.h"

#include "SxShellFolder.h"
#include "SxTransferFormats.h"
#include "uGLBWin.h"
#include "SxComObject.h"
#include "SxException.h"
#include "SxTools.h"
#include "uTLogger.h"
#include "SxProviderTransfer.h"
#include "SxProvider.h"

#include <shlwapi.h>

#include <algorithm>

namespace {

constexpr DWORD AllEffects = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;

// The effect wanted within the allowed ones: copy, then move, then link stand in for one that is
// not allowed.
DWORD WithinAllowed(DWORD wanted, DWORD allowed)
{
    if (wanted & allowed)
        return wanted & allowed;
    for (DWORD e : {DROPEFFECT_COPY, DROPEFFECT_MOVE, DROPEFFECT_LINK})
        if (e & allowed)
            return e;
    return DROPEFFECT_NONE;
}

HRESULT TryGetData(IDataObject* source, FORMATETC format, STGMEDIUM& medium)
{
    medium = {};
    return source->GetData(&format, &medium);
}

} // namespace

TSxNamespaceDropTarget::TSxNamespaceDropTarget(TSxCustomShellFolder& folder, HWND ownerWindow,
                                               const TSxDataGrainList* grains)
    : TSxNamespaceCustomDataObject(folder, ownerWindow, grains),
      FolderGrain(folder.MakeFolderGrain()),
      Logger(std::make_unique<TLogger>(-1, true, "SxNamespaceUtils"))
{
}

TSxNamespaceDropTarget::~TSxNamespaceDropTarget() = default;

STDMETHODIMP TSxNamespaceDropTarget::QueryInterface(REFIID iid, void** object)
{
    static const QITAB table[] = {QITABENTMULTI2(TSxNamespaceDropTarget, IID_IUnknown, IDropTarget),
                                  SX_QITABENT(TSxNamespaceDropTarget, IDropTarget), {nullptr, 0}};
    return SxQueryInterface(this, table, iid, object);
}

std::vector<int> TSxNamespaceDropTarget::AcceptedFormats() const
{
    // Own grains first (the private format keeps them whole), then descriptors (with contents),
    // files, and item-ID lists.
    std::vector<int> formats;
    if (!Provider)
        return formats;
    if (Provider->HasGrainDrop())
        formats.push_back(sfiPrivateFormat);
    if (Provider->HasStreamDrop()) {
        formats.push_back(sfiDescriptor);
        formats.push_back(sfiDescriptorA);
    }
    if (Provider->HasFileDrop())
        formats.push_back(sfiHDrop);
    if (Provider->HasPidlDrop())
        formats.push_back(sfiShellIDList);
    return formats;
}

DWORD TSxNamespaceDropTarget::ComputeEffect(DWORD keyState)
{
    DWORD effect = Effect;
    if (!Provider || !FolderGrain || !Provider->DoQueryDataGrainDrop(*FolderGrain, FirstGrain())) {
        effect = DROPEFFECT_NONE;
    } else {
        const bool control = keyState & MK_CONTROL, shift = keyState & MK_SHIFT;
        if (control && shift)
            effect = DROPEFFECT_LINK;
        else if (control)
            effect = DROPEFFECT_COPY;
        else if (shift)
            effect = DROPEFFECT_MOVE;
        effect = WithinAllowed(effect, AllowedEffects);
    }
    Effect = effect;
    return effect;
}

STDMETHODIMP TSxNamespaceDropTarget::DragEnter(IDataObject* dataObject, DWORD keyState, POINTL, DWORD* effect)
{
    if (!effect)
        return E_INVALIDARG;
    const DWORD allowed = *effect;
    *effect = DROPEFFECT_NONE;
    return SxComCall(ShellFolder, [&]() -> HRESULT {
        AllowedEffects = allowed & AllEffects;
        if (!dataObject || !Provider)
            return S_OK;
        // The format the drop will take first: of those the provider takes, the one the
        // source offers that comes first in the order of preference.
        FormatIndex = -1;
        for (int index : AcceptedFormats()) {
            FORMATETC format = Format(index);
            if (dataObject->QueryGetData(&format) == S_OK) {
                FormatIndex = index;
                break;
            }
        }
        Effect = DROPEFFECT_MOVE;
        // Files from outside are copied unless asked otherwise.
        if (FormatIndex == sfiHDrop || FormatIndex == sfiDescriptor || FormatIndex == sfiDescriptorA)
            Effect = DROPEFFECT_COPY;
        *effect = FormatIndex < 0 ? DROPEFFECT_NONE : ComputeEffect(keyState);
        return S_OK;
    });
}

STDMETHODIMP TSxNamespaceDropTarget::DragOver(DWORD keyState, POINTL, DWORD* effect)
{
    if (!effect)
        return E_INVALIDARG;
    const DWORD allowed = *effect;
    *effect = DROPEFFECT_NONE;
    return SxComCall(ShellFolder, [&]() -> HRESULT {
        AllowedEffects = allowed & AllEffects;
        *effect = FormatIndex < 0 ? DROPEFFECT_NONE : ComputeEffect(keyState);
        return S_OK;
    });
}

STDMETHODIMP TSxNamespaceDropTarget::DragLeave()
{
    FormatIndex = -1;
    return S_OK;
}

STDMETHODIMP TSxNamespaceDropTarget::Drop(IDataObject* dataObject, DWORD keyState, POINTL, DWORD* effect)
{
    if (!effect)
        return E_INVALIDARG;
    const DWORD allowed = *effect & AllEffects;
    *effect = DROPEFFECT_NONE;
    return SxComCall(ShellFolder, [&]() -> HRESULT {
        if (!dataObject || !Provider || !FolderGrain)
            return E_FAIL;
        if (FormatIndex < 0)
            return E_FAIL;
        AllowedEffects = allowed;
        // The source's preferred effect decides (move before copy); otherwise the keys. The
        // provider's veto holds either way.
        uint32_t preferred = 0;
        DataObjectGetDWord(dataObject, CF_SXPREFERREDDROPEFFECT, preferred);
        DWORD wanted;
        if (!Provider->DoQueryDataGrainDrop(*FolderGrain, FirstGrain()))
            wanted = DROPEFFECT_NONE;
        else if (preferred & DROPEFFECT_MOVE)
            wanted = WithinAllowed(DROPEFFECT_MOVE, allowed);
        else if (preferred & DROPEFFECT_COPY)
            wanted = WithinAllowed(DROPEFFECT_COPY, allowed);
        else
            wanted = ComputeEffect(keyState);
        Effect = wanted;
        if (wanted == DROPEFFECT_NONE)
            return S_OK;

        // The chosen format first, then the others the provider takes; the first format that
        // handed anything over ends the drop, so no item is transferred twice.
        std::vector<int> order{FormatIndex};
        for (int index : AcceptedFormats())
            if (index != FormatIndex)
                order.push_back(index);
        HRESULT result = E_FAIL;
        DWORD performed = DROPEFFECT_NONE;
        for (int index : order) {
            TSxMedium medium;
            HRESULT hr = TryGetData(dataObject, Format(index), medium.Medium);
            if (FAILED(hr)) {
                result = hr;
                continue;
            }
            DWORD done = wanted;
            bool handed = false;
            result = TransferData(index, dataObject, medium.Medium, done, handed);
            performed = done;
            if (handed || FAILED(result))
                break;
        }
        *effect = performed;
        Effect = performed;
        if (SUCCEEDED(result) && performed != DROPEFFECT_NONE) {
            HRESULT hr = DataObjectSetDWord(dataObject, performed, CF_SXPERFORMEDDROPEFFECT);
            if (SUCCEEDED(hr))
                DataObjectSetDWord(dataObject, performed, CF_SXPASTESUCCEEDED);
        }
        return result;
    });
}

HRESULT TSxNamespaceDropTarget::TransferData(int index, IDataObject* source, STGMEDIUM& medium, DWORD& effect,
                                             bool& handed)
{
    handed = false;
    TSxCustomDataGrain& target = FirstGrain();
    if (index == sfiDescriptor || index == sfiDescriptorA)
        return TransferDescriptors(source, medium, index == sfiDescriptor, effect, handed);
    if (medium.tymed != TYMED_HGLOBAL || !medium.hGlobal)
        return DV_E_TYMED;
    TSxDropOutcome outcome;
    HRESULT result = E_FAIL;
    // The outcome counts what reached the provider even when a handler raises on the way.
    struct TReport {
        TSxDropOutcome& outcome;
        bool& handed;
        ~TReport() { handed = handed || !outcome.Arrived.empty() || outcome.Offered > 0; }
    } report{outcome, handed};
    TSxLockedGlobal block(medium.hGlobal);
    if (!block.Data)
        return E_OUTOFMEMORY;
    const DWORD requested = effect;
    try {
        switch (index) {
        case sfiPrivateFormat:
            result = Provider->DropPrivateFormat(target, effect, OwnerWindow, block.Data, block.Size, outcome);
            break;
        case sfiShellIDList:
            result = Provider->DropIDList(target, effect, OwnerWindow, block.Data, block.Size, outcome);
            break;
        case sfiHDrop: {
            std::vector<std::string> paths = SxDropFileNames(static_cast<HDROP>(medium.hGlobal), block.Data, block.Size);
            result = Provider->DropFiles(target, effect, OwnerWindow, paths, outcome);
            break;
        }
        default:
            return E_FAIL;
        }
    } catch (...) {
        effect = SxOutcomeEffect(requested, outcome);
        throw;
    }
    // A source of this process learns which of its grains arrived as moved; only those are then
    // completed as a move, the rest keep their originals.
    if ((index == sfiPrivateFormat || index == sfiShellIDList) && !outcome.Moved.empty()) {
        Microsoft::WRL::ComPtr<ISxNamespaceDataObject> own;
        if (SUCCEEDED(source->QueryInterface(IID_ISxNamespaceDataObject, reinterpret_cast<void**>(own.GetAddressOf())))) {
            own->ReportMovedGrains(outcome.Moved.data(), static_cast<int>(outcome.Moved.size()));
            effect = DROPEFFECT_MOVE;
        }
    }
    return result;
}

TSxCustomDataGrain* TSxNamespaceDropTarget::ResolveFolderPath(const std::string& path)
{
    TSxCustomDataGrain* current = &FirstGrain();
    std::vector<std::string> parts;
    SplitPath(path, parts);
    std::string walked;
    for (const std::string& part : parts) {
        walked += (walked.empty() ? "" : "\\") + part;
        if (FFailedFolders.count(walked))
            return nullptr;
        auto known = FResolved.find(walked);
        if (known != FResolved.end()) {
            current = known->second.get();
            continue;
        }
        // An existing folder of that name is used once the provider agrees (asked once per
        // folder); a refusal ends the drop. A missing one is made.
        std::unique_ptr<TSxCustomDataGrain> next;
        TSxDataGrainList children;
        current->Populate(children);
        for (int i = 0; i < children.Count(); ++i) {
            TSxCustomDataGrain& child = *children.GetItem(i);
            if (!child.IsFile && child.Name == part) {
                if (!Provider->DoConfirmOverwriteFolder(child, OwnerWindow))
                    throw EAbort("The folder \"" + walked + "\" is not to be merged");
                next = child.Clone();
                if (current->AbsolutePidl())
                    next->PlaceUnder(*current);
                break;
            }
        }
        if (!next && (!Provider->CreateNewFolder(*current, part, next) || !next)) {
            Logger->Error("TSxNamespaceDropTarget.Drop: the folder \"" + walked + "\" cannot be made");
            FFailedFolders[walked] = true;
            return nullptr;
        }
        current = next.get();
        FResolved[walked] = std::move(next);
    }
    return current;
}

HRESULT TSxNamespaceDropTarget::TransferDescriptors(IDataObject* source, STGMEDIUM& medium, bool wide, DWORD& effect,
                                                    bool& handed)
{
    if (medium.tymed != TYMED_HGLOBAL || !medium.hGlobal)
        return DV_E_TYMED;
    std::vector<TSxFileDescriptor> records;
    {
        TSxLockedGlobal block(medium.hGlobal);
        records = wide ? SxReadFileGroupDescriptorW(block.Data, block.Size)
                       : SxReadFileGroupDescriptorA(block.Data, block.Size);
    }
    const DWORD requested = effect;
    TSxDropOutcome outcome;
    outcome.Offered = static_cast<int>(std::count_if(records.begin(), records.end(),
                                                     [](const TSxFileDescriptor& d) { return !d.IsFolder(); }));
    std::unique_ptr<TSxDropProgress> progress;
    if (std::any_of(records.begin(), records.end(), [](const TSxFileDescriptor& d) { return d.Flags & SxFD_PROGRESSUI; }))
        progress = std::make_unique<TSxDropProgress>(OwnerWindow, static_cast<int32_t>(records.size()));
    HRESULT result = S_OK;
    try {
        for (size_t i = 0; i < records.size(); ++i) {
            const TSxFileDescriptor& record = records[i];
            TSxFileInfoDescriptor info = Provider->FileInfoOfDescriptor(record, wide);
            // Each item goes into the folder its own path names.
            const size_t cut = info.DisplayName.find_last_of('\\');
            const std::string folderPath = cut == std::string::npos ? std::string() : info.DisplayName.substr(0, cut);
            if (record.IsFolder()) {
                ResolveFolderPath(info.DisplayName);
            } else if (TSxCustomDataGrain* folder = ResolveFolderPath(folderPath)) {
                info.DisplayName = info.DisplayName.substr(cut == std::string::npos ? 0 : cut + 1);
                if (progress)
                    progress->SetLine2(info.DisplayName);
                std::unique_ptr<TSxByteStream> data = SxFileContentsOf(source, static_cast<LONG>(i), record);
                if (data) {
                    // Without a size in the descriptor the contents delivered give it.
                    if (!(record.Flags & SxFD_FILESIZE))
                        info.Size = data->GetSize();
                    bool arrived = false;
                    DWORD one = requested;
                    handed = true;
                    result = Provider->DropFileContents(*folder, one, OwnerWindow, info, *data, arrived);
                    if (arrived) {
                        outcome.Arrived.push_back(static_cast<int>(i));
                        if (one & DROPEFFECT_MOVE)
                            outcome.Moved.push_back(static_cast<int>(i));
                    }
                    if (FAILED(result))
                        break;
                } else {
                    Logger->Error("TSxNamespaceDropTarget.Drop: no contents for \"" + record.Name + "\"");
                }
            }
            if (progress) {
                progress->SetPosition(static_cast<int32_t>(i + 1));
                if (progress->HasUserCancelled()) {
                    outcome.Cancelled = true;
                    break;
                }
            }
        }
    } catch (...) {
        effect = SxOutcomeEffect(requested, outcome);
        throw;
    }
    effect = SxOutcomeEffect(requested, outcome);
    return result;
}
