#pragma once
// The column base of the details view: header format, state flags and the settings every column
// of a folder's details view carries.
#include <cstdint>
#include <string>

enum class TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };
enum class TColumnSortType : uint8_t { ctSortString, ctSortInteger, ctSortDate };
enum class TColumnDataType : uint8_t { dtString, dtSmallint, dtInteger, dtSingle, dtDouble, dtDate, dtBoolean };

class TCustomShellColumn {
public:
    TCustomShellColumn() = default;
    virtual ~TCustomShellColumn() = default;

    TAlignment Alignment = TAlignment::taLeftJustify;
    TColumnSortType SortType = TColumnSortType::ctSortString;
    TColumnDataType DataType = TColumnDataType::dtString;
    std::string Descritpion;
    bool IsSlow = false;
    bool ShowByDefault = true;
    bool ShowOnPopupMenu = false;
    std::string Caption;
    int32_t Width = 6;
    bool Visible = true;

    // Copies every setting but Visible.
    virtual void Assign(const TCustomShellColumn& source);

    // LVCFMT value of the header: left 0, right 1, centre 2.
    int32_t HeaderFormat() const;
    // SHCOLSTATE flags: the type of SortType, ONBYDEFAULT (0x10), SLOW (0x20), and 0x80 when the
    // column is not on the header's popup menu.
    uint32_t StateFlags() const;
};
