#pragma once
// Key presses as READ_KEY's tables expect them: the virtual-key code and the
// character of the key, and the modifier keys held. Whatever delivers keys
// (a decoder of terminal or piped bytes, or a test) produces these events;
// READ_KEY turns them into the one- and two-step key codes.

#include <cstdint>
#include <optional>

namespace lousa {

// Virtual-key codes the key tables know (the numbering programs of this kind
// have always used).
namespace vk {
inline constexpr std::uint16_t kTab = 9;
inline constexpr std::uint16_t kEnter = 13;
inline constexpr std::uint16_t kEscape = 27;
inline constexpr std::uint16_t kPageUp = 33;
inline constexpr std::uint16_t kPageDown = 34;
inline constexpr std::uint16_t kEnd = 35;
inline constexpr std::uint16_t kHome = 36;
inline constexpr std::uint16_t kLeft = 37;
inline constexpr std::uint16_t kUp = 38;
inline constexpr std::uint16_t kRight = 39;
inline constexpr std::uint16_t kDown = 40;
inline constexpr std::uint16_t kPrintScreen = 44;
inline constexpr std::uint16_t kInsert = 45;
inline constexpr std::uint16_t kDelete = 46;
inline constexpr std::uint16_t kNumpad0 = 96;  // through kNumpad0 + 9
inline constexpr std::uint16_t kF1 = 112;      // through kF1 + 11 (F12)
}  // namespace vk

struct KeyEvent {
    std::uint16_t virtualKey = 0;  // 0 when the key has none worth knowing
    std::uint8_t character = 0;    // the code-page-850 byte the key types; 0 for none
    bool shift = false;
    bool ctrl = false;
    bool alt = false;

    bool operator==(const KeyEvent&) const = default;
};

// Where READ_KEY and the key-waiting test get key presses from.
class KeySource {
public:
    virtual ~KeySource() = default;
    // Waits for the next key press; nullopt at end of input (never waits then).
    virtual std::optional<KeyEvent> nextKey() = 0;
    // True when a key press can be had without waiting; nothing is consumed.
    // False at end of input.
    virtual bool keyWaiting() = 0;
};

}  // namespace lousa
