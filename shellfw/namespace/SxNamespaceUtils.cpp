#include "SxNamespaceUtils.h"

#include "SxProvider.h"

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
