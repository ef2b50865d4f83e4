#include "SxColumnProvider.h"

namespace {
constexpr uint32_t SHCOLSTATE_TYPE_STR = 0x1;
constexpr uint32_t SHCOLSTATE_TYPE_INT = 0x2;
constexpr uint32_t SHCOLSTATE_TYPE_DATE = 0x3;
constexpr uint32_t SHCOLSTATE_ONBYDEFAULT = 0x10;
constexpr uint32_t SHCOLSTATE_SLOW = 0x20;
// Listed only in the "more columns" choice, not on the header menu (SHCOLSTATE_SECONDARYUI).
constexpr uint32_t SHCOLSTATE_OFFMENU = 0x80;
} // namespace

void TCustomShellColumn::Assign(const TCustomShellColumn& source)
{
    Alignment = source.Alignment;
    SortType = source.SortType;
    DataType = source.DataType;
    Descritpion = source.Descritpion;
    IsSlow = source.IsSlow;
    ShowByDefault = source.ShowByDefault;
    ShowOnPopupMenu = source.ShowOnPopupMenu;
    Caption = source.Caption;
    Width = source.Width;
}

int32_t TCustomShellColumn::HeaderFormat() const
{
    switch (Alignment) {
    case TAlignment::taRightJustify: return 1;
    case TAlignment::taCenter: return 2;
    default: return 0;
    }
}

uint32_t TCustomShellColumn::StateFlags() const
{
    uint32_t flags = SHCOLSTATE_TYPE_STR;
    if (SortType == TColumnSortType::ctSortInteger)
        flags = SHCOLSTATE_TYPE_INT;
    else if (SortType == TColumnSortType::ctSortDate)
        flags = SHCOLSTATE_TYPE_DATE;
    if (ShowByDefault)
        flags |= SHCOLSTATE_ONBYDEFAULT;
    if (IsSlow)
        flags |= SHCOLSTATE_SLOW;
    if (!ShowOnPopupMenu)
        flags |= SHCOLSTATE_OFFMENU;
    return flags;
}
