// Feeds arbitrary bytes to the settings reader and asks what the program would ask of it.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/settings/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vorn::SettingsFile file;
    file.Parse(text);

    static constexpr std::string_view kKeys[][2] = {
        {"VornForm", "Left"},   {"VornForm", "Top"},          {"VornForm", "Width"},
        {"VornForm", "Height"}, {"FileListView", "FileName"}, {"FileListView", "Error"},
    };
    std::int64_t sum = 0;
    for (const auto& key : kKeys) {
        if (const auto value = file.Lookup(key[0], key[1])) {
            sum += static_cast<std::int64_t>(value->size());
        }
        sum += file.ReadInteger(key[0], key[1], 0);
    }
    // The value syntax on its own, on the raw bytes.
    sum += vorn::ParseInteger(text).value_or(0);

    // Whatever was read must come out as text that reads back to the same sections and text.
    vorn::SettingsFile again;
    again.Parse(file.Text());
    if (again.Sections().size() != file.Sections().size() || again.Text() != file.Text()) {
        __builtin_trap();
    }
    return sum == 42 ? 0 : 0;
}
