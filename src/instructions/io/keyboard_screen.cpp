// Keyboard and screen: single keys with the two-step codes of function and
// cursor keys, the text window, colours and intensity, clearing and lines,
// the cursor position, the I/O result, and a few small conversions and shifts.

#include <cstdint>
#include <optional>
#include <string_view>

#include "console/console.hpp"
#include "files/io_result.hpp"
#include "vm/interpretador.hpp"

namespace lousa {

namespace {

// The key read when input has ended (the code of a failed console read).
constexpr Word kKeyAtEndOfInput = 236;

// Extended codes of keys that type no character, by virtual-key code.
std::optional<std::uint8_t> extendedCodeOfKey(const KeyEvent& key) {
    const int v = key.virtualKey;
    if (v >= vk::kPageUp && v <= vk::kDown) {
        // for the cursor keys only Ctrl changes the code
        static constexpr std::uint8_t plain[] = {73, 81, 79, 71, 75, 72, 77, 80};
        static constexpr std::uint8_t withCtrl[] = {132, 118, 117, 119, 115, 141, 116, 145};
        return key.ctrl ? withCtrl[v - vk::kPageUp] : plain[v - vk::kPageUp];
    }
    if (v == vk::kInsert) return 82;
    if (v == vk::kDelete) return 83;
    if (v >= vk::kNumpad0 && v <= vk::kNumpad0 + 9) {
        static constexpr std::uint8_t keypad[] = {82, 79, 80, 81, 75, 76, 77, 71, 72, 73};
        return keypad[v - vk::kNumpad0];
    }
    if (v >= vk::kF1 && v <= vk::kF1 + 9) {  // F1 to F10: Alt, then Ctrl, then Shift wins
        const int f = v - vk::kF1;
        if (key.alt) return static_cast<std::uint8_t>(104 + f);
        if (key.ctrl) return static_cast<std::uint8_t>(94 + f);
        if (key.shift) return static_cast<std::uint8_t>(84 + f);
        return static_cast<std::uint8_t>(59 + f);
    }
    if (v == vk::kF1 + 10 || v == vk::kF1 + 11) {  // F11, F12
        const int f = v - (vk::kF1 + 10);
        if (key.alt) return static_cast<std::uint8_t>(139 + f);
        if (key.ctrl) return static_cast<std::uint8_t>(137 + f);
        if (key.shift) return static_cast<std::uint8_t>(135 + f);
        return static_cast<std::uint8_t>(133 + f);
    }
    return std::nullopt;
}

// Extended codes of character keys pressed with Alt, Shift+Tab and Ctrl+Print
// Screen, tried in this order on the upper-cased character.
std::optional<std::uint8_t> extendedCodeOfCharacter(const KeyEvent& key) {
    const char c = (key.character >= 'a' && key.character <= 'z') ? static_cast<char>(key.character - 32)
                                                                  : static_cast<char>(key.character);
    if (key.alt && c != 0) {
        struct Row {
            std::string_view keys;
            std::uint8_t first;
        };
        static constexpr Row rows[] = {{"QWERTYUIOP", 16}, {"ASDFGHJKL", 30}, {"ZXCVBNM", 44}, {"1234567890", 120}};
        for (const Row& row : rows) {
            const std::size_t at = row.keys.find(c);
            if (at != std::string_view::npos) return static_cast<std::uint8_t>(row.first + at);
        }
        if (c == '-') return 130;
        if (c == '=') return 131;
    }
    if (key.shift && c == '\t') return 15;
    if (key.ctrl && key.virtualKey == vk::kPrintScreen) return 114;
    return std::nullopt;
}

}  // namespace

void Interpretador::opReadKey() {
    Word key = pendingKey;
    if (key == 0) {
        key = kKeyAtEndOfInput;
        // keys without a character or a code of their own (Shift alone) are skipped
        while (console) {
            const std::optional<KeyEvent> event = console->keys().nextKey();
            if (!event) break;
            std::optional<std::uint8_t> extended;
            if (event->character == 0) extended = extendedCodeOfKey(*event);
            if (!extended) extended = extendedCodeOfCharacter(*event);
            if (extended) {
                pendingKey = *extended;
                key = 0;
                break;
            }
            if (event->character != 0) {
                key = event->character;
                break;
            }
        }
    }
    if (key == pendingKey) pendingKey = 0;  // the pending code has just been delivered
    if (operand(1) != 0) push(key & 0xFF);
    pc = wrapAdd(pc, 2);
}

void Interpretador::opTextColor() {
    const Word colour = pop();
    if (console) console->screen().setTextColor(colour);
    pc = wrapAdd(pc, 1);
}

void Interpretador::opTextWindow() {
    const Word bottom = pop();
    const Word right = pop();
    const Word top = pop();
    const Word left = pop();
    if (console) {
        console->screen().setWindow(left, top, right, bottom);
        console->present();
    }
    pc = wrapAdd(pc, 1);
}

void Interpretador::opCrt() {
    const Word function = operand(1);
    ScreenModel* screen = console ? &console->screen() : nullptr;
    switch (function) {
        case 1: if (screen) screen->clearToEndOfLine(); break;
        case 2: if (screen) screen->clearWindow(); break;
        case 3: if (screen) screen->deleteLine(); break;
        case 4: if (screen) screen->highIntensity(); break;
        case 5: if (screen) screen->insertLine(); break;
        case 6: push(ioResult(ioErrorNumber)); break;
        case 7: push(console && console->keys().keyWaiting() ? 1 : 0); break;
        case 8: if (screen) screen->lowIntensity(); break;
        case 9: if (screen) screen->normalVideo(); break;
        case 10: push(screen ? screen->whereX() : 1); break;
        case 11: push(screen ? screen->whereY() : 1); break;
        case 12: writeWord(sp, lowByte(readWord(sp))); break;
        case 13: writeWord(sp, signedByte(readWord(sp))); break;
        case 14: writeWord(sp, lowWord(readWord(sp))); break;
        case 15: {
            const Word n = pop();
            writeWord(sp, static_cast<Word>(static_cast<UWord>(readWord(sp)) << (n & 31)));
            break;
        }
        case 16: {
            const Word n = pop();
            writeWord(sp, readWord(sp) >> (n & 31));  // arithmetic: the sign bit is copied in
            break;
        }
        default: break;
    }
    if (console && function >= 1 && function <= 5) console->present();
    pc = wrapAdd(pc, 2);
}

}  // namespace lousa
