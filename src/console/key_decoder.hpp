#pragma once
// Turns the bytes a terminal (or a pipe) sends into key events: the
// virtual-key code, character and modifier state that the key tables of
// READ_KEY expect.
//
// One general parser reads control sequences: ESC [ (CSI) and ESC O (SS3),
// their numeric parameters and the final byte. Keys are then looked up by
// final byte or by the "~" number, and the xterm modifier parameter m gives
// the modifiers as bits of m - 1 (1 Shift, 2 Alt, 4 Ctrl, 8 Meta = Alt). The
// forms of xterm, VT220, rxvt and the Linux console are all accepted.
// A sequence that names no key is dropped whole, never leaked as keys.
//
// The decoder is pure: bytes are pushed in, events come out. When it holds an
// incomplete sequence (a lone ESC, say) the caller waits a short time for more
// bytes and then calls timeout(); at the end of piped input it calls timeout()
// at once.

#include <array>
#include <cstdint>
#include <deque>
#include <string_view>

#include "console/code_page.hpp"
#include "console/input_reader.hpp"
#include "console/key_event.hpp"

namespace lousa {

// Virtual-key codes the decoder produces besides those of key_event.hpp.
namespace vk {
inline constexpr std::uint16_t kBack = 8;
inline constexpr std::uint16_t kClear = 12;  // keypad 5 without Num Lock
inline constexpr std::uint16_t kSpace = 32;
}  // namespace vk

class KeyDecoder {
public:
    // utf8Input: the bytes are UTF-8 (a terminal in a UTF-8 locale) and are
    // turned into code page 850 characters; otherwise each byte is a character.
    explicit KeyDecoder(bool utf8Input = false) : utf8Input_(utf8Input) {
        for (std::size_t i = 0; i < typedBytes_.size(); ++i) typedBytes_[i] = static_cast<std::uint8_t>(i);
    }
    // Without UTF-8: the code page 850 character of each byte (the terminal's
    // single-byte code set); by default each byte is its own character.
    void setTypedBytes(const std::array<std::uint8_t, 256>& table) { typedBytes_ = table; }

    void push(std::uint8_t byte);
    void push(std::string_view bytes) {
        for (const char ch : bytes) push(static_cast<std::uint8_t>(ch));
    }

    // Resolves a held incomplete sequence: no more bytes are coming soon.
    // A lone ESC becomes the Escape key, ESC [ and ESC O become Alt+[ and
    // Alt+O, an unfinished control sequence is dropped, an unfinished UTF-8
    // character becomes '?'.
    void timeout();

    // True while bytes are held that the next byte may complete.
    bool waitingForMore() const { return state_ != State::kGround || utf8_.pending(); }

    bool hasEvent() const { return !events_.empty(); }
    KeyEvent popEvent();

    // Forgets held bytes and undelivered events (input flushed).
    void clear();

private:
    enum class State { kGround, kEscape, kCsi, kSs3, kLinuxFunction };

    void ground(std::uint8_t byte, bool alt);
    void escape(std::uint8_t byte);
    void csi(std::uint8_t byte);
    void ss3(std::uint8_t byte);
    void linuxFunction(std::uint8_t byte);
    void utf8Byte(std::uint8_t byte, bool alt);
    void finishCsi(std::uint8_t finalByte);
    void finishSs3(std::uint8_t finalByte);
    void emit(KeyEvent event, bool alt);
    void resetSequence();

    bool utf8Input_;
    std::array<std::uint8_t, 256> typedBytes_{};
    State state_ = State::kGround;
    bool altPrefix_ = false;  // ESC before a sequence or a character: Alt
    bool utf8Alt_ = false;    // the UTF-8 character being decoded was preceded by ESC

    // Parameters of the control sequence being read: at most kMaxParameters
    // numbers are kept; anything longer is read to its end and dropped.
    static constexpr int kMaxParameters = 4;
    static constexpr int kMaxSequenceBytes = 64;
    int parameters_[kMaxParameters] = {};
    int parameterCount_ = 0;
    int sequenceBytes_ = 0;
    bool privateMarker_ = false;  // '<', '=', '>' or '?': a report, not a key
    bool intermediate_ = false;
    bool malformed_ = false;

    Utf8Decoder utf8_;
    std::deque<KeyEvent> events_;
};

// Key presses decoded from the key bytes of the input reader, whether they
// come from a terminal or from a pipe. A held ESC or an unfinished sequence is
// resolved when no byte follows within kEscapeWaitMs, or at once at the end
// of input.
class DecodedKeySource : public KeySource {
public:
    static constexpr int kEscapeWaitMs = 40;

    DecodedKeySource(InputReader& reader, bool utf8Input) : reader_(reader), decoder_(utf8Input) {}
    std::optional<KeyEvent> nextKey() override;
    // True when a decoded key or a byte is ready (a terminal sends nothing
    // for Shift, Ctrl or Alt alone, so a byte is a key press).
    bool keyWaiting() override;
    // Forgets what the decoder holds (the input was flushed).
    void discardHeld() { decoder_.clear(); }
    void setTypedBytes(const std::array<std::uint8_t, 256>& table) { decoder_.setTypedBytes(table); }

private:
    InputReader& reader_;
    KeyDecoder decoder_;
};

// The key event of one character byte (code page 850) typed without Alt:
// letters carry their virtual-key code and Shift, control bytes are Ctrl+letter,
// 10 and 13 are Enter, 8 and 127 Backspace.
KeyEvent keyEventFromByte(std::uint8_t byte);

}  // namespace lousa
