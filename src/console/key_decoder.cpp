#include "console/key_decoder.hpp"

namespace lousa {

namespace {

constexpr std::uint8_t kEsc = 0x1B;

KeyEvent special(std::uint16_t virtualKey) {
    KeyEvent event;
    event.virtualKey = virtualKey;
    return event;
}

// Virtual-key codes of the punctuation keys of a US keyboard, and whether the
// character needs Shift there. The key tables look only at the character for
// these keys; the codes are given so that events look like real key presses.
struct PunctuationKey {
    char unshifted;
    char shifted;
    std::uint16_t virtualKey;
};
constexpr PunctuationKey kPunctuation[] = {
    {';', ':', 186}, {'=', '+', 187}, {',', '<', 188},  {'-', '_', 189}, {'.', '>', 190},  {'/', '?', 191},
    {'`', '~', 192}, {'[', '{', 219}, {'\\', '|', 220}, {']', '}', 221}, {'\'', '"', 222},
};
constexpr char kShiftedDigits[] = ")!@#$%^&*(";

// Keys named by the number of an "ESC [ n ~" sequence (VT220, xterm, rxvt,
// the Linux console). rxvt sends Shift+F3..F10 as 25..34, Shift included.
struct TildeKey {
    int number;
    std::uint16_t virtualKey;
    bool shift;
};
constexpr TildeKey kTildeKeys[] = {
    {1, vk::kHome, false},  // VT220 Find, Home on the Linux console
    {2, vk::kInsert, false},
    {3, vk::kDelete, false},
    {4, vk::kEnd, false},  // VT220 Select, End on the Linux
                           // console
    {5, vk::kPageUp, false},
    {6, vk::kPageDown, false},
    {7, vk::kHome, false},  // rxvt
    {8, vk::kEnd, false},   // rxvt
    {11, vk::kF1, false},
    {12, vk::kF1 + 1, false},
    {13, vk::kF1 + 2, false},
    {14, vk::kF1 + 3, false},
    {15, vk::kF1 + 4, false},
    {17, vk::kF1 + 5, false},
    {18, vk::kF1 + 6, false},
    {19, vk::kF1 + 7, false},
    {20, vk::kF1 + 8, false},
    {21, vk::kF1 + 9, false},
    {23, vk::kF1 + 10, false},
    {24, vk::kF1 + 11, false},
    {25, vk::kF1 + 2, true},
    {26, vk::kF1 + 3, true},
    {28, vk::kF1 + 4, true},
    {29, vk::kF1 + 5, true},
    {31, vk::kF1 + 6, true},
    {32, vk::kF1 + 7, true},
    {33, vk::kF1 + 8, true},
    {34, vk::kF1 + 9, true},
};

const TildeKey* tildeKey(int number) {
    for (const TildeKey& key : kTildeKeys)
        if (key.number == number) return &key;
    return nullptr;
}

// Keys named by the final byte of a CSI or SS3 sequence.
struct LetterKey {
    std::uint8_t finalByte;
    std::uint16_t virtualKey;
};
constexpr LetterKey kLetterKeys[] = {
    {'A', vk::kUp},    {'B', vk::kDown},   {'C', vk::kRight},  {'D', vk::kLeft},
    {'H', vk::kHome},  {'F', vk::kEnd},    {'E', vk::kClear},  // keypad 5 (xterm)
    {'G', vk::kClear},                                         // keypad 5 (Linux console)
    {'P', vk::kF1},    {'Q', vk::kF1 + 1}, {'R', vk::kF1 + 2}, {'S', vk::kF1 + 3},
};

// 0 = no key.
std::uint16_t letterKey(std::uint8_t finalByte) {
    for (const LetterKey& key : kLetterKeys)
        if (key.finalByte == finalByte) return key.virtualKey;
    return 0;
}

// rxvt's lower-case arrows: ESC [ a..d with Shift, ESC O a..d with Ctrl.
std::uint16_t rxvtArrow(std::uint8_t finalByte) {
    if (finalByte < 'a' || finalByte > 'd') return 0;
    return letterKey(static_cast<std::uint8_t>(finalByte - 'a' + 'A'));
}

// Modifier bits of the xterm parameter m (m - 1: 1 Shift, 2 Alt, 4 Ctrl, 8 Meta).
void applyModifierParameter(KeyEvent& event, int parameter) {
    if (parameter < 2) return;
    const int bits = parameter - 1;
    event.shift = event.shift || (bits & 1) != 0;
    event.alt = event.alt || (bits & 2) != 0 || (bits & 8) != 0;
    event.ctrl = event.ctrl || (bits & 4) != 0;
}

}  // namespace

KeyEvent keyEventFromByte(std::uint8_t byte) {
    KeyEvent event;
    event.character = byte;
    if (byte == 13 || byte == 10) {
        event.virtualKey = vk::kEnter;
        event.character = 13;
    } else if (byte == 8 || byte == 127) {
        event.virtualKey = vk::kBack;
        event.character = 8;
    } else if (byte == 9) {
        event.virtualKey = vk::kTab;
    } else if (byte == kEsc) {
        event.virtualKey = vk::kEscape;
    } else if (byte == 0) {
        event.virtualKey = '2';  // Ctrl+@
        event.ctrl = true;
    } else if (byte < 27) {
        event.virtualKey = static_cast<std::uint16_t>('A' + byte - 1);
        event.ctrl = true;
    } else if (byte < 32) {
        static constexpr std::uint16_t kKeys[] = {220, 221, '6', 189};  // Ctrl+\ ] ^ _
        event.virtualKey = kKeys[byte - 28];
        event.ctrl = true;
    } else if (byte == ' ') {
        event.virtualKey = vk::kSpace;
    } else if (byte >= 'a' && byte <= 'z') {
        event.virtualKey = static_cast<std::uint16_t>(byte - 'a' + 'A');
    } else if (byte >= 'A' && byte <= 'Z') {
        event.virtualKey = byte;
        event.shift = true;
    } else if (byte >= '0' && byte <= '9') {
        event.virtualKey = byte;
    } else if (byte < 128) {
        for (int i = 0; i < 10; ++i) {
            if (kShiftedDigits[i] == byte) {
                event.virtualKey = static_cast<std::uint16_t>('0' + i);
                event.shift = true;
            }
        }
        for (const PunctuationKey& key : kPunctuation) {
            if (key.unshifted == byte || key.shifted == byte) {
                event.virtualKey = key.virtualKey;
                event.shift = key.shifted == byte;
            }
        }
    }
    // Bytes 128-255 are letters of the code page without a key of their own: the character says it all.
    return event;
}

void KeyDecoder::push(std::uint8_t byte) {
    if (utf8_.pending()) {
        utf8Byte(byte, utf8Alt_);
        return;
    }
    switch (state_) {
        case State::kGround:
            ground(byte, false);
            break;
        case State::kEscape:
            escape(byte);
            break;
        case State::kCsi:
            csi(byte);
            break;
        case State::kSs3:
            ss3(byte);
            break;
        case State::kLinuxFunction:
            linuxFunction(byte);
            break;
    }
}

void KeyDecoder::ground(std::uint8_t byte, bool alt) {
    if (byte == kEsc) {
        state_ = State::kEscape;
        altPrefix_ = false;
        return;
    }
    if (utf8Input_ && byte >= 0x80) {
        utf8Byte(byte, alt);
        return;
    }
    emit(keyEventFromByte(typedBytes_[byte]), alt);
}

void KeyDecoder::utf8Byte(std::uint8_t byte, bool alt) {
    utf8Alt_ = alt;
    switch (utf8_.push(byte)) {
        case Utf8Decoder::Status::kNeedMore:
            return;
        case Utf8Decoder::Status::kCodePoint:
            emit(keyEventFromByte(cp850FromUnicode(utf8_.codePoint())), alt);
            return;
        case Utf8Decoder::Status::kMalformed:
            emit(keyEventFromByte('?'), alt);
            if (utf8_.reprocess()) ground(byte, false);
            return;
    }
}

void KeyDecoder::escape(std::uint8_t byte) {
    if (byte == '[' || byte == 'O') {
        resetSequence();
        state_ = byte == '[' ? State::kCsi : State::kSs3;
        return;
    }
    if (byte == kEsc) {
        // ESC ESC: either Alt before a key sequence (rxvt's Meta) or two Escape presses.
        if (altPrefix_) emit(keyEventFromByte(kEsc), true);
        altPrefix_ = true;
        return;
    }
    if (altPrefix_) emit(keyEventFromByte(kEsc), false);  // the first of two ESCs was a key of its own
    altPrefix_ = false;
    state_ = State::kGround;
    if (utf8Input_ && byte >= 0x80) {
        utf8Byte(byte, true);
        return;
    }
    emit(keyEventFromByte(typedBytes_[byte]), true);
}

void KeyDecoder::resetSequence() {
    for (int& parameter : parameters_) parameter = 0;
    parameterCount_ = 0;
    sequenceBytes_ = 0;
    privateMarker_ = false;
    intermediate_ = false;
    malformed_ = false;
}

void KeyDecoder::csi(std::uint8_t byte) {
    if (byte == '[' && sequenceBytes_ == 0) {
        state_ = State::kLinuxFunction;  // ESC [ [ A..E: the Linux console's F1..F5
        return;
    }
    if (byte == kEsc || byte < 0x20 || byte >= 0x7F) {
        // Not part of any sequence: drop what was read and take the byte afresh.
        state_ = State::kGround;
        altPrefix_ = false;
        ground(byte, false);
        return;
    }
    if (++sequenceBytes_ > kMaxSequenceBytes) malformed_ = true;
    if (byte >= '0' && byte <= '9') {
        if (parameterCount_ == 0) parameterCount_ = 1;
        if (intermediate_) malformed_ = true;
        if (parameterCount_ <= kMaxParameters) {
            int& parameter = parameters_[parameterCount_ - 1];
            if (parameter < 10000) parameter = parameter * 10 + (byte - '0');
        }
        return;
    }
    if (byte == ';' || byte == ':') {
        // A ':' sub-parameter is read as a further parameter; no key this decoder knows uses one.
        parameterCount_ = (parameterCount_ == 0 ? 1 : parameterCount_) + 1;
        return;
    }
    if (byte >= 0x3C && byte <= 0x3F) {  // < = > ?
        privateMarker_ = true;
        return;
    }
    if (byte == '$' && parameterCount_ > 0 && !intermediate_) {
        finishCsi(byte);  // rxvt ends a Shift-modified key with '$'
        return;
    }
    if (byte >= 0x20 && byte <= 0x2F) {
        intermediate_ = true;
        return;
    }
    finishCsi(byte);  // 0x40-0x7E: the final byte
}

void KeyDecoder::finishCsi(std::uint8_t finalByte) {
    state_ = State::kGround;
    const bool alt = altPrefix_;
    altPrefix_ = false;
    if (malformed_ || privateMarker_ || intermediate_ || parameterCount_ > kMaxParameters) return;
    const int first = parameters_[0];
    const int modifier = parameterCount_ >= 2 ? parameters_[1] : 1;
    KeyEvent event;
    switch (finalByte) {
        case '~':
        case '$':    // rxvt: Shift
        case '^':    // rxvt: Ctrl
        case '@': {  // rxvt: Ctrl+Shift
            if (first == 27 && parameterCount_ == 3) {
                // xterm's modifyOtherKeys: ESC [ 27 ; m ; code ~
                if (parameters_[2] > 255) return;
                event = keyEventFromByte(static_cast<std::uint8_t>(parameters_[2]));
                applyModifierParameter(event, modifier);
                emit(event, alt);
                return;
            }
            const TildeKey* key = tildeKey(first);
            if (key == nullptr) return;
            event = special(key->virtualKey);
            applyModifierParameter(event, modifier);
            event.shift = event.shift || key->shift || finalByte == '$' || finalByte == '@';
            event.ctrl = event.ctrl || finalByte == '^' || finalByte == '@';
            emit(event, alt);
            return;
        }
        case 'Z': {
            event = keyEventFromByte(9);
            event.shift = true;
            applyModifierParameter(event, modifier);
            emit(event, alt);
            return;
        }
        case 'u': {
            // "CSI code ; m u", the form of terminals that report every key.
            if (parameterCount_ == 0 || first > 255) return;
            event = keyEventFromByte(static_cast<std::uint8_t>(first));
            applyModifierParameter(event, modifier);
            emit(event, alt);
            return;
        }
        default:
            break;
    }
    if (const std::uint16_t arrow = rxvtArrow(finalByte); arrow != 0 && parameterCount_ == 0) {
        event = special(arrow);
        event.shift = true;
        emit(event, alt);
        return;
    }
    const std::uint16_t key = letterKey(finalByte);
    if (key == 0) return;  // an unknown sequence is dropped whole
    event = special(key);
    applyModifierParameter(event, modifier);
    emit(event, alt);
}

void KeyDecoder::ss3(std::uint8_t byte) {
    if (byte >= '0' && byte <= '9') {
        // Some terminals put the modifier straight after ESC O (ESC O 5 A).
        if (++sequenceBytes_ > kMaxSequenceBytes) malformed_ = true;
        parameterCount_ = 1;
        if (parameters_[0] < 10000) parameters_[0] = parameters_[0] * 10 + (byte - '0');
        return;
    }
    if (byte == ';') {
        // ESC O 1 ; 5 P: keep the last number as the modifier.
        parameters_[0] = 0;
        return;
    }
    if (byte == kEsc || byte < 0x20 || byte >= 0x7F) {
        state_ = State::kGround;
        altPrefix_ = false;
        ground(byte, false);
        return;
    }
    finishSs3(byte);
}

void KeyDecoder::finishSs3(std::uint8_t finalByte) {
    state_ = State::kGround;
    const bool alt = altPrefix_;
    altPrefix_ = false;
    if (malformed_) return;
    const int modifier = parameterCount_ > 0 ? parameters_[0] : 1;
    KeyEvent event;
    if (const std::uint16_t arrow = rxvtArrow(finalByte); arrow != 0) {
        event = special(arrow);
        event.ctrl = true;
    } else if (const std::uint16_t key = letterKey(finalByte); key != 0) {
        event = special(key);
    } else if (finalByte == 'M') {
        event = keyEventFromByte(13);  // keypad Enter in application mode
    } else if (finalByte >= 'j' && finalByte <= 'y') {
        static constexpr char kKeypad[] = "*+,-./0123456789";  // application keypad j..y
        event = keyEventFromByte(static_cast<std::uint8_t>(kKeypad[finalByte - 'j']));
    } else if (finalByte == 'X') {
        event = keyEventFromByte('=');
    } else {
        return;
    }
    applyModifierParameter(event, modifier);
    emit(event, alt);
}

void KeyDecoder::linuxFunction(std::uint8_t byte) {
    state_ = State::kGround;
    const bool alt = altPrefix_;
    altPrefix_ = false;
    if (byte >= 'A' && byte <= 'E') {
        emit(special(static_cast<std::uint16_t>(vk::kF1 + byte - 'A')), alt);
        return;
    }
    if (byte == kEsc || byte < 0x20 || byte >= 0x7F) ground(byte, false);
    // anything else: an unknown sequence, dropped
}

void KeyDecoder::timeout() {
    const bool alt = altPrefix_;
    switch (state_) {
        case State::kGround:
            break;
        case State::kEscape:
            if (alt) emit(keyEventFromByte(kEsc), false);
            emit(keyEventFromByte(kEsc), false);
            break;
        case State::kCsi:
        case State::kSs3:
            // ESC [ or ESC O and nothing after it: the user typed Alt+[ or Alt+O.
            if (sequenceBytes_ == 0 && parameterCount_ == 0) {
                if (alt) emit(keyEventFromByte(kEsc), false);
                emit(keyEventFromByte(state_ == State::kCsi ? '[' : 'O'), true);
            }
            break;
        case State::kLinuxFunction:
            break;  // ESC [ [ cut short: dropped
    }
    state_ = State::kGround;
    altPrefix_ = false;
    if (utf8_.pending()) {
        utf8_.reset();
        emit(keyEventFromByte('?'), utf8Alt_);
    }
}

void KeyDecoder::emit(KeyEvent event, bool alt) {
    event.alt = event.alt || alt;
    events_.push_back(event);
}

KeyEvent KeyDecoder::popEvent() {
    const KeyEvent event = events_.front();
    events_.pop_front();
    return event;
}

void KeyDecoder::clear() {
    events_.clear();
    state_ = State::kGround;
    altPrefix_ = false;
    utf8_.reset();
    resetSequence();
}

std::optional<KeyEvent> DecodedKeySource::nextKey() {
    for (;;) {
        if (decoder_.hasEvent()) return decoder_.popEvent();
        if (decoder_.waitingForMore()) {
            const int byte = reader_.nextKeyByteWithin(kEscapeWaitMs);
            if (byte < 0) {
                decoder_.timeout();  // nothing more came (or input ended): resolve what is held
            } else {
                decoder_.push(static_cast<std::uint8_t>(byte));
            }
            continue;
        }
        const int byte = reader_.nextKeyByte();
        if (byte == InputReader::kEnd) return std::nullopt;
        decoder_.push(static_cast<std::uint8_t>(byte));
    }
}

bool DecodedKeySource::keyWaiting() {
    // Nothing is consumed here, so that a flush of the input right after the
    // test still discards the key that made it true.
    return decoder_.hasEvent() || decoder_.waitingForMore() || reader_.keyByteReady();
}

}  // namespace lousa
