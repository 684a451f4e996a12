// The runtime's database as the server meets it: a 20-byte memory descriptor, then the mapping,
// which is as large as the descriptor says. Whatever it holds, opening it and walking every station
// and point through the accessors reads only inside the mapping (ASan guards its ends); so does a
// valid image after each of the corruptions the simulator can publish.
#include "rtdb/rt_library.h"
#include "rtdb/standin/rt_image.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

volatile std::size_t g_sink;

void walk(std::byte* base, const std::byte* descriptor) {
    const auto view = rtimage::ImageView::open(base, descriptor);
    if (!view) return;
    std::size_t sum = 0;
    for (std::size_t s = 0; s <= view->stationCount(); ++s) {
        std::byte* station = view->station(s);
        if (!station) continue;
        sum += rtimage::readText(station + rt::station::kName, rt::kNameField).size();
        sum += std::to_integer<std::size_t>(station[rt::station::kNonTransferFlag]);
        if (view->stationIndex(station) != s) std::abort();
        for (std::size_t i = 0; i <= view->analogCount(s); ++i)
            if (std::byte* a = view->analog(s, i)) {
                sum += rtimage::readText(a + rt::analog::kName, rt::kNameField).size();
                sum += rtimage::readText(a + rt::analog::kDescription, rtimage::analog::kDescriptionField).size();
                sum += rtimage::readDouble(a + rt::analog::kValue) > rtimage::readDouble(a + rt::analog::kHighLimit);
                sum += rtimage::readDouble(a + rt::analog::kLowLimit) > 0;
                sum += std::to_integer<std::size_t>(a[rt::analog::kWritableFlag]);
            }
        for (std::size_t i = 0; i <= view->switchCount(s); ++i)
            if (std::byte* w = view->switchPoint(s, i)) {
                sum += rtimage::readText(w + rt::status::kName, rt::kNameField).size();
                sum += rtimage::readText(w + rt::status::kDescription, rtimage::status::kDescriptionField).size();
                sum += std::to_integer<std::size_t>(w[rt::status::kState] ^ w[rt::status::kWritableFlag]);
            }
    }
    g_sink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < rtimage::kDescriptorSize) return 0;
    std::byte descriptor[rtimage::kDescriptorSize];
    std::memcpy(descriptor, data, sizeof descriptor);
    const std::size_t mapped = rtimage::readU32(descriptor);
    if (mapped > (1u << 20)) return 0;  // a mapping that large fails before anything reads it
    // An exact-size heap block, so that ASan reports the first byte read past the mapping.
    auto mapping = std::make_unique<std::byte[]>(mapped);
    std::memcpy(mapping.get(), data + sizeof descriptor, std::min(mapped, size - sizeof descriptor));
    walk(mapping.get(), descriptor);

    const auto sound = rtimage::ImageView::open(mapping.get(), descriptor);
    if (!sound || sound->stationCount() < 2 || !sound->switchPoint(0, 0)) return 0;  // what corrupt() needs
    for (auto how : {rtimage::Corruption::StationCount, rtimage::Corruption::TableOffset,
                     rtimage::Corruption::PointRun, rtimage::Corruption::UnterminatedNames}) {
        auto copy = std::make_unique<std::byte[]>(mapped);
        std::memcpy(copy.get(), mapping.get(), mapped);
        rtimage::corrupt(copy.get(), how);
        walk(copy.get(), descriptor);
    }
    return 0;
}
