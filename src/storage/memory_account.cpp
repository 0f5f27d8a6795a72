#include "storage/memory_account.hpp"

#include <limits>

namespace lousa {

std::optional<std::size_t> parseByteSize(std::string_view text) {
    std::size_t unit = 1;
    if (!text.empty()) {
        switch (text.back()) {
            case 'K':
            case 'k':
                unit = std::size_t{1} << 10;
                break;
            case 'M':
            case 'm':
                unit = std::size_t{1} << 20;
                break;
            case 'G':
            case 'g':
                unit = std::size_t{1} << 30;
                break;
            default:
                break;
        }
        if (unit != 1) text.remove_suffix(1);
    }
    if (text.empty()) return std::nullopt;
    constexpr std::size_t kMax = std::numeric_limits<std::size_t>::max();
    std::size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::size_t>(c - '0');
        if (value > (kMax - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (value > kMax / unit) return std::nullopt;
    return value * unit;
}

}  // namespace lousa
