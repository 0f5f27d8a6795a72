#include "console/key_decoder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lousa {
namespace {

// "vk/char" plus the modifiers as letters, e.g. "38/0 C" for Ctrl+Up.
std::string describe(const KeyEvent& e) {
    std::string text = std::to_string(e.virtualKey) + "/" + std::to_string(e.character);
    if (e.shift || e.ctrl || e.alt) text += ' ';
    if (e.shift) text += 'S';
    if (e.ctrl) text += 'C';
    if (e.alt) text += 'A';
    return text;
}

std::vector<std::string> drain(KeyDecoder& decoder) {
    std::vector<std::string> out;
    while (decoder.hasEvent()) out.push_back(describe(decoder.popEvent()));
    return out;
}

// Everything the bytes give once input has paused.
std::vector<std::string> keys(std::string_view bytes, bool utf8 = true) {
    KeyDecoder decoder(utf8);
    decoder.push(bytes);
    decoder.timeout();
    return drain(decoder);
}

using V = std::vector<std::string>;

TEST(KeyDecoder, CursorKeysInEveryTerminalsForm) {
    EXPECT_EQ(keys("\x1b[A\x1b[B\x1b[C\x1b[D"), (V{"38/0", "40/0", "39/0", "37/0"}));
    EXPECT_EQ(keys("\x1bOA\x1bOD"), (V{"38/0", "37/0"}));  // application cursor mode
    EXPECT_EQ(keys("\x1b[1;5A\x1b[1;2B\x1b[1;3C\x1b[1;8D"), (V{"38/0 C", "40/0 S", "39/0 A", "37/0 SCA"}));
    EXPECT_EQ(keys("\x1b[a\x1bOd"), (V{"38/0 S", "37/0 C"}));  // rxvt
    EXPECT_EQ(keys("\x1bO5A"), (V{"38/0 C"}));
    EXPECT_EQ(keys("\x1b[1;9A"), (V{"38/0 A"}));  // Meta counts as Alt
}

TEST(KeyDecoder, EditingKeysInEveryTerminalsForm) {
    // Home: xterm, SS3, VT220/Linux, rxvt; End likewise.
    EXPECT_EQ(keys("\x1b[H\x1bOH\x1b[1~\x1b[7~"), (V{"36/0", "36/0", "36/0", "36/0"}));
    EXPECT_EQ(keys("\x1b[F\x1bOF\x1b[4~\x1b[8~"), (V{"35/0", "35/0", "35/0", "35/0"}));
    EXPECT_EQ(keys("\x1b[2~\x1b[3~\x1b[5~\x1b[6~"), (V{"45/0", "46/0", "33/0", "34/0"}));
    EXPECT_EQ(keys("\x1b[5;5~\x1b[1;5H\x1b[3;2~"), (V{"33/0 C", "36/0 C", "46/0 S"}));
    EXPECT_EQ(keys("\x1b[5^\x1b[3$\x1b[2@"), (V{"33/0 C", "46/0 S", "45/0 SC"}));  // rxvt
    EXPECT_EQ(keys("\x1b[E\x1b[G"), (V{"12/0", "12/0"}));                          // keypad 5
}

TEST(KeyDecoder, FunctionKeysWithModifiers) {
    EXPECT_EQ(keys("\x1bOP\x1bOQ\x1bOR\x1bOS"), (V{"112/0", "113/0", "114/0", "115/0"}));
    EXPECT_EQ(keys("\x1b[11~\x1b[12~\x1b[13~\x1b[14~\x1b[15~"), (V{"112/0", "113/0", "114/0", "115/0", "116/0"}));
    EXPECT_EQ(keys("\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~\x1b[23~\x1b[24~"),
              (V{"117/0", "118/0", "119/0", "120/0", "121/0", "122/0", "123/0"}));
    EXPECT_EQ(keys("\x1b[[A\x1b[[B\x1b[[C\x1b[[D\x1b[[E"), (V{"112/0", "113/0", "114/0", "115/0", "116/0"}));
    EXPECT_EQ(keys("\x1b[1;2P\x1b[1;5S\x1b[15;3~\x1b[24;6~"), (V{"112/0 S", "115/0 C", "116/0 A", "123/0 SC"}));
    EXPECT_EQ(keys("\x1bO2P"), (V{"112/0 S"}));
    // rxvt: Shift+F3..F10 have codes of their own, Shift+F11/F12 end in '$', Ctrl in '^'.
    EXPECT_EQ(keys("\x1b[25~\x1b[34~\x1b[23$\x1b[11^"), (V{"114/0 S", "121/0 S", "122/0 S", "112/0 C"}));
}

TEST(KeyDecoder, TabEnterBackspaceAndControlBytes) {
    EXPECT_EQ(keys("\x1b[Z"), (V{"9/9 S"}));
    EXPECT_EQ(keys("\r\n\t"), (V{"13/13", "13/13", "9/9"}));  // a line feed counts as Enter
    EXPECT_EQ(keys(std::string_view("\x7f\x08\x01\x1a\x00", 5)), (V{"8/8", "8/8", "65/1 C", "90/26 C", "50/0 C"}));
    EXPECT_EQ(keys("aZ5 !"), (V{"65/97", "90/90 S", "53/53", "32/32", "49/33 S"}));
    EXPECT_EQ(keys("\x1b[27;5;9~"), (V{"9/9 C"}));  // modifyOtherKeys Ctrl+Tab
}

TEST(KeyDecoder, EscapeAloneAltAndDoubleEscape) {
    KeyDecoder decoder(true);
    decoder.push(0x1b);
    EXPECT_TRUE(decoder.waitingForMore());
    EXPECT_FALSE(decoder.hasEvent()) << "a lone ESC must wait for the poll";
    decoder.timeout();
    EXPECT_EQ(drain(decoder), (V{"27/27"}));
    EXPECT_FALSE(decoder.waitingForMore());

    EXPECT_EQ(keys("\x1bx\x1bX\x1b"
                   "1"),
              (V{"88/120 A", "88/88 SA", "49/49 A"}));
    EXPECT_EQ(keys("\x1b\x7f"), (V{"8/8 A"}));
    EXPECT_EQ(keys("\x1b\xc3\xa7"), (V{"0/135 A"}));     // Alt+ç: UTF-8 after ESC
    EXPECT_EQ(keys("\x1b\x1b"), (V{"27/27", "27/27"}));  // two presses of Escape
    EXPECT_EQ(keys("\x1b\x1b[A"), (V{"38/0 A"}));        // rxvt's Alt+Up
    EXPECT_EQ(keys("\x1b\x1bq"), (V{"27/27", "81/113 A"}));
    EXPECT_EQ(keys("\x1b\x1b\x1b"), (V{"27/27 A", "27/27", "27/27"}));
    // ESC [ and ESC O with nothing after them were Alt+[ and Alt+O.
    EXPECT_EQ(keys("\x1b["), (V{"219/91 A"}));
    EXPECT_EQ(keys("\x1bO"), (V{"79/79 SA"}));
}

TEST(KeyDecoder, SequencesArrivingByteByByteGiveOneKeyAtTheEnd) {
    for (const std::string sequence : {"\x1b[1;5A", "\x1b[15;2~", "\x1b[[C", "\x1bOP", "\x1b[24$"}) {
        KeyDecoder decoder(true);
        for (std::size_t i = 0; i + 1 < sequence.size(); ++i) {
            decoder.push(static_cast<std::uint8_t>(sequence[i]));
            EXPECT_FALSE(decoder.hasEvent()) << "prefix of length " << i + 1;
            EXPECT_TRUE(decoder.waitingForMore());
        }
        decoder.push(static_cast<std::uint8_t>(sequence.back()));
        EXPECT_EQ(drain(decoder).size(), 1U);
        EXPECT_FALSE(decoder.waitingForMore());
    }
}

TEST(KeyDecoder, UnknownSequencesAreDroppedWhole) {
    EXPECT_EQ(keys("\x1b[99~x"), (V{"88/120"}));
    EXPECT_EQ(keys("\x1b[?1;2cx"), (V{"88/120"}));     // a device attributes report
    EXPECT_EQ(keys("\x1b[<0;12;5Mx"), (V{"88/120"}));  // an SGR mouse report
    EXPECT_EQ(keys("\x1b[Ix\x1b[O"), (V{"88/120"}));   // focus in/out
    EXPECT_EQ(keys("\x1b[2 qx"), (V{"88/120"}));       // an intermediate byte
    EXPECT_EQ(keys("\x1bOzx\x1b[[Zy"), (V{"88/120", "89/121"}));
    EXPECT_EQ(keys("\x1b[1;"), V{});  // cut short at the end of input
    // A flood of parameter bytes is read to its end without growing, then dropped.
    EXPECT_EQ(keys("\x1b[" + std::string(5000, '9') + "Ax"), (V{"88/120"}));
    EXPECT_EQ(keys("\x1b[" + std::string(5000, ';') + "~x"), (V{"88/120"}));
}

TEST(KeyDecoder, ByteOutsideASequenceEndsItAndCounts) {
    EXPECT_EQ(keys("\x1b[1;\r"), (V{"13/13"}));
    EXPECT_EQ(keys("\x1b[12\x1b[A"), (V{"38/0"}));
    EXPECT_EQ(keys("\x1bO\x1bOQ"), (V{"113/0"}));
}

TEST(KeyDecoder, Utf8LettersBecomeCodePageBytes) {
    EXPECT_EQ(keys("a\xc3\xa7\xc3\xa3\xe2\x95\x94"), (V{"65/97", "0/135", "0/198", "0/201"}));
    EXPECT_EQ(keys("\xe2\x82\xac"), (V{"191/63 S"}));           // € is not in the page: '?'
    EXPECT_EQ(keys("\xc3"), (V{"191/63 S"}));                   // cut short
    EXPECT_EQ(keys("\xc3z"), (V{"191/63 S", "90/122"}));        // broken, and the z is kept
    EXPECT_EQ(keys("\xc3\xa7", false), (V{"0/195", "0/167"}));  // piped bytes are taken as they are

    KeyDecoder decoder(true);
    decoder.push(0xc3);
    EXPECT_TRUE(decoder.waitingForMore());
    EXPECT_FALSE(decoder.hasEvent());
    decoder.push(0xa7);
    EXPECT_EQ(drain(decoder), (V{"0/135"}));
}

TEST(KeyDecoder, ClearForgetsHeldBytesAndEvents) {
    KeyDecoder decoder(true);
    decoder.push("ab\x1b[1;");
    decoder.clear();
    EXPECT_FALSE(decoder.hasEvent());
    EXPECT_FALSE(decoder.waitingForMore());
    decoder.push("5A");
    EXPECT_EQ(drain(decoder), (V{"53/53", "65/65 S"}));
}

TEST(DecodedKeySource, KeysFromTheReaderWithEscapeResolvedAtTheEnd) {
    for (const bool terminal : {false, true}) {
        InputReader reader(std::make_unique<MemoryByteSource>("\x1b[Ax\x1b", terminal));
        DecodedKeySource keys(reader, false);
        EXPECT_EQ(describe(*keys.nextKey()), "38/0");
        EXPECT_EQ(describe(*keys.nextKey()), "88/120");
        EXPECT_EQ(describe(*keys.nextKey()), "27/27") << "a lone ESC at the end of input is the Escape key";
        EXPECT_EQ(keys.nextKey(), std::nullopt);
        EXPECT_FALSE(keys.keyWaiting());
    }
}

TEST(DecodedKeySource, KeyWaitingConsumesNothingSoAFlushStillDiscardsTheKey) {
    InputReader reader(std::make_unique<MemoryByteSource>("\x1b[A", true));
    DecodedKeySource keys(reader, true);
    EXPECT_TRUE(keys.keyWaiting());
    EXPECT_TRUE(keys.keyWaiting());
    reader.discardTypedAhead();
    EXPECT_EQ(keys.nextKey(), std::nullopt);
}

}  // namespace
}  // namespace lousa
