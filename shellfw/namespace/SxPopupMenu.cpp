#include "SxPopupMenu.h"

void TSxBaseMenuItem::Click()
{
    if (OnClick)
        OnClick(*this);
}

TSxBaseMenuItem& TSxBaseMenuItem::Add(std::unique_ptr<TSxBaseMenuItem> item)
{
    item->FParent = this;
    FItems.push_back(std::move(item));
    return *FItems.back();
}

std::unique_ptr<TSxBaseMenuItem> TSxPopupMenu::CreateMenuItem(TSxComponent* owner)
{
    return std::make_unique<TSxBaseMenuItem>(owner);
}
