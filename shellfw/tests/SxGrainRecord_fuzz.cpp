// libFuzzer target of the readers of framework items and grain records: any bytes as an item of
// exactly that size, and as a record. Neither may read past its input; a record that loads must
// save and load back to the same fields.
#include "SxGrainRecord.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // As an item: its cb (at least its own two bytes) is the caller's promise of readable bytes,
    // so the input is cut to cb.
    if (size >= 2) {
        const size_t cb = std::max<size_t>(2, data[0] | (data[1] << 8));
        if (cb <= size) {
            std::vector<uint8_t> item(data, data + cb);
            const auto* p = reinterpret_cast<PCSxItemIDList>(item.data());
            if (IsGrainItem(p)) {
                try {
                    TSxMemoryStream stream(GrainItemRecord(p));
                    TSxGrainRecord record;
                    LoadGrainRecord(stream, record);
                } catch (const std::runtime_error&) {
                }
            }
        }
    }
    // As a record.
    std::vector<uint8_t> bytes(data, data + size);
    TSxMemoryStream stream(bytes);
    TSxGrainRecord record;
    try {
        LoadGrainRecord(stream, record);
    } catch (const std::runtime_error&) {
        return 0;
    }
    TSxMemoryStream saved;
    SaveGrainRecord(saved, record, true);
    saved.SetPosition(0);
    TSxGrainRecord again;
    LoadGrainRecord(saved, again);
    if (again.Name != record.Name || again.IsFile != record.IsFile || again.Values != record.Values ||
        again.IconIndex != record.IconIndex || again.OpenIconIndex != record.OpenIconIndex ||
        again.Data != record.Data || again.AbsoluteList != record.AbsoluteList ||
        again.Attributes != record.Attributes)
        std::abort();
    return 0;
}
