#pragma once
// The details view of a virtual folder: its columns, the order Explorer sees them in, their
// header and cell texts and their state flags.
#include "SxColumnProvider.h"
#include "SxComponent.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <shlobj.h>
#endif

class TSxCustomProvider;
class TSxCustomDataGrain;
class TSxNamespaceDetails;

// The value a column handler gives for a cell; unassigned shows as an empty text.
using TSxColumnValue = std::optional<std::string>;

class TSxNamespaceColumn : public TCustomShellColumn {
public:
    std::string CodeName;
    std::function<void(TSxNamespaceColumn& sender, TSxCustomDataGrain* grain, TSxColumnValue& data)> OnGetData;
    std::function<void(TSxNamespaceColumn& sender, TSxCustomDataGrain* grain1, TSxCustomDataGrain* grain2,
                       int32_t& result)>
        OnSort;

    // Also takes both event bindings when the source is a namespace column (not CodeName).
    void Assign(const TCustomShellColumn& source) override;

    // The OnSort answer, or -2 when no handler is bound.
    int32_t DoSort(TSxCustomDataGrain* grain1, TSxCustomDataGrain* grain2);
    void DoGetData(TSxCustomDataGrain* grain, TSxColumnValue& data);
};

class TSxShellColumns {
public:
    explicit TSxShellColumns(TSxNamespaceDetails* owner) : Owner(owner) {}
    TSxShellColumns(const TSxShellColumns&) = delete;
    TSxShellColumns& operator=(const TSxShellColumns&) = delete;

    int32_t Count() const { return static_cast<int32_t>(Items.size()); }
    TSxNamespaceColumn& Item(int32_t index) { return *Items.at(static_cast<size_t>(index)); }
    // A new column in the collection that the owner's Columns returns now.
    TSxNamespaceColumn& Add();
    // A new column in this very collection.
    TSxNamespaceColumn& AddItem();
    void Assign(const TSxShellColumns& source);

    TSxNamespaceDetails* const Owner;

private:
    std::vector<std::unique_ptr<TSxNamespaceColumn>> Items;
};

// Designed indexes of the five built-in columns, -1 where a column is absent.
class TSxNamespaceCommonColumns {
public:
    int32_t ColumnAttributes = -1;
    int32_t ColumnModified = -1;
    int32_t ColumnName = -1;
    int32_t ColumnSize = -1;
    int32_t ColumnType = -1;

    // Effective positions, -1 until the effective set is built.
    int32_t NamePosition = -1, SizePosition = -1, TypePosition = -1, ModifiedPosition = -1,
            AttributesPosition = -1;
};

enum class TSxCommonColumn { None, Name, Size, Type, Modified, Attributes };

class TSxNamespaceDetails : public TSxComponent {
public:
    explicit TSxNamespaceDetails(TSxComponent* owner = nullptr);
    std::string ClassName() const override { return "TSxNamespaceDetails"; }

    int32_t DefDisplayColumn = -1;
    int32_t DefSortingColumn = -1;
    TSxNamespaceCommonColumns CommonColumns;

    std::function<void(TSxNamespaceDetails& sender, TSxCustomDataGrain* grain, TCustomShellColumn& column,
                       TSxColumnValue& data)>
        OnGetColumnText;
    std::function<void(TSxNamespaceDetails& sender)> OnPrepareCustomColumns;
    std::function<void(TSxNamespaceDetails& sender, TSxNamespaceColumn& column, TSxCustomDataGrain* grain1,
                       TSxCustomDataGrain* grain2, int32_t& result)>
        OnSortColumn;

    // The columns as the module designs them (what its stored form fills).
    TSxShellColumns& DesignedColumns() { return Designed; }
    // The columns every run-time caller sees: the effective set, built on first use; the designed
    // set while the custom columns are being prepared.
    TSxShellColumns& Columns();

    virtual void DoPrepareCustomColumns();
    void DoGetColumnText(TSxCustomDataGrain* grain, TCustomShellColumn& column, TSxColumnValue& data);

    // Explorer numbers columns by their designed index, in CompareIDs, GetDetailsOf and the
    // column state alike: the effective column of that number, or nullptr when out of range.
    TSxNamespaceColumn* ColumnOfNumber(int64_t number);
    // Which built-in column (if any) the column of that number is.
    TSxCommonColumn CommonColumnOfNumber(int64_t number);
    // Number of columns Explorer may ask for.
    int32_t ColumnCount() { return Columns().Count(); }

    // Column state: false (S_FALSE) for a column out of range.
    bool GetDefaultColumnState(uint32_t column, uint32_t& flags);
    // The default sort and display columns in Explorer's numbering; 0 when unset or out of range.
    int32_t GetDefSortingColumn();
    int32_t GetDefDisplayColumn();

    // Designed index of every effective column, in effective order.
    const std::vector<int32_t>& ColumnOrder() { Columns(); return Order; }

#ifdef _WIN32
    // Header (no grain) or cell text of one column into details; E_INVALIDARG out of range.
    HRESULT GetDetailsOf(TSxCustomProvider* provider, TSxCustomDataGrain* grain, SHELLDETAILS* details,
                         int32_t column);
#endif

private:
    void BuildColumns();
    int32_t PositionOfNumber(int64_t number);

    TSxShellColumns Designed;
    std::unique_ptr<TSxShellColumns> Effective;
    std::vector<int32_t> Order;
    bool Preparing = false;
};

// Size column text of a byte count: kilobytes rounded up, in the "!### ### ### KB" form.
std::string KilobyteSizeText(uint64_t size);
