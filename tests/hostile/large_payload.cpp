// Writes large packed programs for the hostile loading cases, in moments
// (the packer's optimal parse would take minutes for hundreds of MiB):
//
//   large_payload STUB lines BYTES OUT CODE_TEXT
//       a real code text of about BYTES bytes: the words of CODE_TEXT (a
//       small program that ends by HALT, so that a run measures loading and
//       shows that the program ran), then LINE instructions that never run.
//       Their 4096-byte blocks repeat, so after the first block every 15
//       bytes are one match at window position 0 (the oldest byte held is
//       the byte one block back).
//   large_payload STUB empty BYTES OUT CODE_TEXT
//       a stream of about BYTES bytes of matches of length 0, which give no
//       text at all, then CODE_TEXT as literals.
//
// OUT is the stub's bytes, the payload marker, the name "big.pas" and the
// stream.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "loader/bit_writer.hpp"

namespace {

using lousa::BitWriter;

// LINE 1 818 times and LINE 10 once: 4096 bytes, 1638 words.
std::string lineBlock() {
    std::string block;
    for (int i = 0; i < 818; ++i) block += "62 1 ";
    block += "62 10 ";
    return block;
}

// The words of a code text (after its count and the ignored token), and how many.
std::string wordsOf(const std::string& codeText, std::uint64_t& count) {
    std::size_t at = codeText.find(' ');
    at = codeText.find(' ', at + 1);
    const std::string words = codeText.substr(at + 1);
    count = static_cast<std::uint64_t>(std::count(words.begin(), words.end(), ' '));
    return words;
}

std::string linesStream(std::uint64_t bytes, const std::string& program) {
    const std::string block = lineBlock();
    const std::uint64_t blocks = bytes / block.size() + 1;
    std::uint64_t programWords = 0;
    const std::string programText = wordsOf(program, programWords);
    const std::uint64_t words = programWords + blocks * 1638;
    const std::string head = std::to_string(words) + " " + std::to_string(words + 1) + " " + programText;
    BitWriter bits;
    for (const char c : head + block) bits.literal(c);
    std::uint64_t left = (blocks - 1) * block.size();
    for (; left >= 15; left -= 15) bits.match(0, 15);
    if (left > 0) bits.match(0, static_cast<unsigned>(left));
    return std::move(bits).finish();
}

std::string emptyStream(std::uint64_t bytes, const std::string& program) {
    BitWriter bits;
    for (std::uint64_t i = 0; i < bytes / 17 * 8; ++i) bits.match(0, 0);
    for (const char c : program) bits.literal(c);
    return std::move(bits).finish();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: large_payload STUB lines|empty BYTES OUT CODE_TEXT\n");
        return 2;
    }
    const std::string kind = argv[2];
    const std::uint64_t bytes = std::strtoull(argv[3], nullptr, 10);
    std::ifstream stub(argv[1], std::ios::binary);
    if (!stub || (kind != "lines" && kind != "empty")) {
        std::fprintf(stderr, "large_payload: no stub %s or unknown kind %s\n", argv[1], argv[2]);
        return 2;
    }
    std::string out((std::istreambuf_iterator<char>(stub)), std::istreambuf_iterator<char>());
    out += "\x1A\x1A\x1A";
    out += '\x08';
    out += std::string("big.pas") + '\0';
    out += kind == "lines" ? linesStream(bytes, argv[5]) : emptyStream(bytes, argv[5]);
    std::ofstream file(argv[4], std::ios::binary | std::ios::trunc);
    file.write(out.data(), static_cast<std::streamsize>(out.size()));
    return file ? 0 : 1;
}
