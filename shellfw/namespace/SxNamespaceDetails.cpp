#include "SxNamespaceDetails.h"

#include <algorithm>

void TSxNamespaceColumn::Assign(const TCustomShellColumn& source)
{
    TCustomShellColumn::Assign(source);
    if (auto column = dynamic_cast<const TSxNamespaceColumn*>(&source)) {
        OnGetData = column->OnGetData;
        OnSort = column->OnSort;
    }
}

int32_t TSxNamespaceColumn::DoSort(TSxCustomDataGrain* grain1, TSxCustomDataGrain* grain2)
{
    if (!OnSort)
        return -2;
    int32_t result = 0;
    OnSort(*this, grain1, grain2, result);
    return result;
}

void TSxNamespaceColumn::DoGetData(TSxCustomDataGrain* grain, TSxColumnValue& data)
{
    if (OnGetData)
        OnGetData(*this, grain, data);
}

TSxNamespaceColumn& TSxShellColumns::Add()
{
    if (Owner)
        return Owner->Columns().AddItem();
    return AddItem();
}

TSxNamespaceColumn& TSxShellColumns::AddItem()
{
    Items.push_back(std::make_unique<TSxNamespaceColumn>());
    return *Items.back();
}

void TSxShellColumns::Assign(const TSxShellColumns& source)
{
    if (&source == this)
        return;
    Items.clear();
    for (const auto& item : source.Items)
        AddItem().Assign(*item);
}

TSxNamespaceDetails::TSxNamespaceDetails(TSxComponent* owner) : TSxComponent(owner), Designed(this) {}

TSxShellColumns& TSxNamespaceDetails::Columns()
{
    if (Preparing)
        return Designed;
    if (!Effective)
        BuildColumns();
    return *Effective;
}

void TSxNamespaceDetails::DoPrepareCustomColumns()
{
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{Preparing};
    Preparing = true;
    if (OnPrepareCustomColumns)
        OnPrepareCustomColumns(*this);
}

void TSxNamespaceDetails::DoGetColumnText(TSxCustomDataGrain* grain, TCustomShellColumn& column,
                                          TSxColumnValue& data)
{
    if (OnGetColumnText)
        OnGetColumnText(*this, grain, column, data);
}

void TSxNamespaceDetails::BuildColumns()
{
    Effective = std::make_unique<TSxShellColumns>(this);
    Order.clear();
    DoPrepareCustomColumns();

    auto take = [this](int32_t designed) {
        Effective->AddItem().Assign(Designed.Item(designed));
        Order.push_back(designed);
        return Effective->Count() - 1;
    };
    auto valid = [this](int32_t designed) {
        return designed >= 0 && designed < Designed.Count() &&
               std::find(Order.begin(), Order.end(), designed) == Order.end();
    };
    struct {
        int32_t designed;
        int32_t* position;
    } common[] = {
        {CommonColumns.ColumnName, &CommonColumns.NamePosition},
        {CommonColumns.ColumnSize, &CommonColumns.SizePosition},
        {CommonColumns.ColumnType, &CommonColumns.TypePosition},
        {CommonColumns.ColumnModified, &CommonColumns.ModifiedPosition},
        {CommonColumns.ColumnAttributes, &CommonColumns.AttributesPosition},
    };
    // A common index that names no designed column, or one already taken, is left out, so the
    // order stays a permutation of the designed indexes.
    for (auto& c : common)
        *c.position = valid(c.designed) ? take(c.designed) : -1;
    for (int32_t i = 0; i < Designed.Count(); ++i)
        if (std::find(Order.begin(), Order.end(), i) == Order.end())
            take(i);
}

int32_t TSxNamespaceDetails::PositionOfNumber(int64_t number)
{
    const auto& order = ColumnOrder();
    if (number < 0 || number >= static_cast<int64_t>(order.size()))
        return -1;
    auto it = std::find(order.begin(), order.end(), static_cast<int32_t>(number));
    return it == order.end() ? -1 : static_cast<int32_t>(it - order.begin());
}

TSxNamespaceColumn* TSxNamespaceDetails::ColumnOfNumber(int64_t number)
{
    int32_t position = PositionOfNumber(number);
    return position < 0 ? nullptr : &Columns().Item(position);
}

TSxCommonColumn TSxNamespaceDetails::CommonColumnOfNumber(int64_t number)
{
    int32_t position = PositionOfNumber(number);
    if (position < 0)
        return TSxCommonColumn::None;
    if (position == CommonColumns.NamePosition) return TSxCommonColumn::Name;
    if (position == CommonColumns.SizePosition) return TSxCommonColumn::Size;
    if (position == CommonColumns.TypePosition) return TSxCommonColumn::Type;
    if (position == CommonColumns.ModifiedPosition) return TSxCommonColumn::Modified;
    if (position == CommonColumns.AttributesPosition) return TSxCommonColumn::Attributes;
    return TSxCommonColumn::None;
}

bool TSxNamespaceDetails::GetDefaultColumnState(uint32_t column, uint32_t& flags)
{
    TSxNamespaceColumn* c = ColumnOfNumber(column);
    if (!c)
        return false;
    flags = c->StateFlags();
    return true;
}

int32_t TSxNamespaceDetails::GetDefSortingColumn()
{
    if (DefSortingColumn <= 0 || DefSortingColumn >= ColumnCount())
        return 0;
    return DefSortingColumn;
}

int32_t TSxNamespaceDetails::GetDefDisplayColumn()
{
    // Explorer's numbering is the designed index, the same as for every other column question.
    if (DefDisplayColumn <= 0 || DefDisplayColumn >= ColumnCount())
        return 0;
    return DefDisplayColumn;
}

#ifdef _WIN32
#include <cmath>

#include "uGLBWin.h"
#include "SxException.h"
#include "SxTools.h"
#include "SxProvider.h"

std::string KilobyteSizeText(uint64_t size)
{
    const uint64_t kilobytes = size / 1024 + (size % 1024 != 0);
    return FormatKilobytes(std::to_string(kilobytes));
}

namespace {

// The user's short date, and the long time unless it is exactly midnight.
std::string DateTimeText(TSxDateTime value)
{
    if (value <= 0)
        return std::string();
    const SYSTEMTIME st = SxSystemTimeOf(value);
    const bool midnight = !(st.wHour || st.wMinute || st.wSecond || st.wMilliseconds);
    wchar_t date[128] = {}, time[128] = {};
    if (!GetDateFormatW(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, date, 128))
        return std::string();
    std::string text = WideToUtf8(date);
    if (!midnight) {
        if (GetTimeFormatW(LOCALE_USER_DEFAULT, 0, &st, nullptr, time, 128))
            text += " " + WideToUtf8(time);
    }
    return text;
}

} // namespace

HRESULT TSxNamespaceDetails::GetDetailsOf(TSxCustomProvider* provider, TSxCustomDataGrain* grain,
                                          SHELLDETAILS* details, int32_t column)
{
    return SxComCall(this, [&]() -> HRESULT {
        TSxNamespaceColumn* shellColumn = ColumnOfNumber(column);
        if (!shellColumn || !details)
            return E_INVALIDARG;
        TSxCommonColumn common = CommonColumnOfNumber(column);
        std::string text;
        if (!grain) {
            details->fmt = common == TSxCommonColumn::Size ? 1 : shellColumn->HeaderFormat();
            details->cxChar = shellColumn->Width;
            text = shellColumn->Caption;
        } else if (common != TSxCommonColumn::None) {
            if (provider && provider->OnGetGrainFileInfo && grain->IsFile) {
                TSxFileInfoDescriptor info;
                provider->OnGetGrainFileInfo(*provider, *grain, info);
                switch (common) {
                case TSxCommonColumn::Name: text = info.DisplayName; break;
                case TSxCommonColumn::Size: text = KilobyteSizeText(info.Size); break;
                case TSxCommonColumn::Type: text = info.TypeName; break;
                case TSxCommonColumn::Modified: text = DateTimeText(info.LastWriteTime); break;
                default: break;
                }
            } else if (common == TSxCommonColumn::Name) {
                text = grain->Name;
            }
        } else {
            TSxColumnValue data;
            shellColumn->DoGetData(grain, data);
            DoGetColumnText(grain, *shellColumn, data);
            text = data.value_or(std::string());
        }
        details->str.uType = STRRET_WSTR;
        SetStrRet(details->str, Utf8ToWide(text));
        return S_OK;
    });
}
#endif
