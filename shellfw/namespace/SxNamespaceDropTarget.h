#pragma once
// The drop target of the virtual folder and of its folder items: everything dropped or pasted
// into the folder passes through it. It picks the format to take, answers the drop effect and
// hands the data to the provider's drop handlers (SxProvider), which fire the product's events.
#ifdef _WIN32
#include "SxNamespaceDataObject.h"

#include <oleidl.h>

#include <map>
#include <memory>
#include <string>

class TLogger;

class TSxNamespaceDropTarget final : public TSxNamespaceCustomDataObject, public IDropTarget {
public:
    // grains: the item under the cursor (nullptr or empty: the folder itself).
    TSxNamespaceDropTarget(TSxCustomShellFolder& folder, HWND ownerWindow, const TSxDataGrainList* grains);
    ~TSxNamespaceDropTarget() override;
    SX_UTIL_IUNKNOWN

    STDMETHODIMP DragEnter(IDataObject* dataObject, DWORD keyState, POINTL point, DWORD* effect) override;
    STDMETHODIMP DragOver(DWORD keyState, POINTL point, DWORD* effect) override;
    STDMETHODIMP DragLeave() override;
    STDMETHODIMP Drop(IDataObject* dataObject, DWORD keyState, POINTL point, DWORD* effect) override;

    std::unique_ptr<TSxCustomDataGrain> FolderGrain;  // the shell folder's own grain
    DWORD Effect = 0;                                 // the current drop effect
    int FormatIndex = -1;                             // the table entry DragEnter chose, -1 none
    DWORD AllowedEffects = DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;  // the source's

private:
    // The effect for the key state within the source's allowed effects; 0 when the provider
    // refuses the drop on the target grain.
    DWORD ComputeEffect(DWORD keyState);
    // Transfers the medium of table entry index; handed tells whether any item reached the
    // provider (a format that handed nothing over leaves the drop to the next format).
    HRESULT TransferData(int index, IDataObject* source, STGMEDIUM& medium, DWORD& effect, bool& handed);
    HRESULT TransferDescriptors(IDataObject* source, STGMEDIUM& medium, bool wide, DWORD& effect, bool& handed);
    // The folder grain of a folder path below the target grain, made where missing; nullptr when
    // a folder on the way could not be made (the items below it fail).
    TSxCustomDataGrain* ResolveFolderPath(const std::string& path);
    // The table entries the provider takes, in the order of preference.
    std::vector<int> AcceptedFormats() const;

    std::unique_ptr<TLogger> Logger;
    std::map<std::string, std::unique_ptr<TSxCustomDataGrain>> FResolved;  // folder path -> grain
    std::map<std::string, bool> FFailedFolders;
};
#endif
