#include "SxNamespaceUtils.h"

#include "SxProvider.h"
#include "SxShellFolder.h"
#include "SxException.h"
#include "SxComObject.h"

#include <memory>

TSxMenuItem::TSxMenuItem(TSxComponent* owner, bool eventsOnly, TSxCustomDataGrain* grain, TSxBaseMenuItem* source)
    : TSxBaseMenuItem(owner), EventsOnly(eventsOnly), SourceItem(source)
{
    if (grain) {
        Grains.push_back(grain);
        Provider = &grain->Provider;
    }
    if (source)
        CopyMenuItem(*source, *this);
}

void TSxMenuItem::CopyMenuItem(const TSxBaseMenuItem& source, TSxMenuItem& target)
{
    target.Bitmap = source.Bitmap;
    target.Break = source.Break;
    target.Caption = source.Caption;
    target.Checked = source.Checked;
    target.Default = source.Default;
    target.Enabled = source.Enabled;
    target.GroupIndex = source.GroupIndex;
    target.HelpContext = source.HelpContext;
    target.Hint = source.Hint;
    target.ImageIndex = source.ImageIndex;
    target.RadioItem = source.RadioItem;
    target.ShortCut = source.ShortCut;
    target.OnClick = source.OnClick;
    target.SubMenuImages = source.SubMenuImages;
    target.Visible = source.Visible;
    for (int i = 0; i < source.Count(); ++i)
        target.Add(std::make_unique<TSxMenuItem>(target.Owner(), target.EventsOnly, target.FirstGrain(), source.Item(i)));
}

TSxNamespaceCustomUtil::TSxNamespaceCustomUtil(TSxCustomShellFolder& folder, HWND ownerWindow,
                                               const TSxDataGrainList* grains)
    : OwnerWindow(ownerWindow), ShellFolder(&folder)
{
    // The folder component stays while the helper lives: Explorer may let go of the folder first.
    FFolderReference = static_cast<IShellFolder2*>(&folder);
    if (grains)
        Grains.Assign(*grains);
    Provider = Grains.First() ? &Grains.First()->Provider : folder.GetDataProvider();
    SxObjectCountAdd(1);
}

TSxNamespaceCustomUtil::~TSxNamespaceCustomUtil()
{
    Grains.Clear();
    SxObjectCountAdd(-1);
}

ULONG TSxNamespaceCustomUtil::UtilRelease()
{
    const LONG count = --FRefCount;
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT TSxNamespaceCustomUtil::MakeFailed() { return SxHandleException(nullptr, std::current_exception()); }

TSxCustomDataGrain& TSxNamespaceCustomUtil::FirstGrain()
{
    if (!Grains.First()) {
        auto grain = ShellFolder->MakeFolderGrain();
        if (!grain)
            throw EProviderException("The folder has no grain: no data provider");
        Grains.Add(std::move(grain));
        if (!Provider)
            Provider = &Grains.First()->Provider;
    }
    return *Grains.First();
}

