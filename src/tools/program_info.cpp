#include "tools/program_info.hpp"

#include "loader/compressor.hpp"
#include "tools/disassembler.hpp"

namespace lousa::tool {

Device deviceOf(const OpcodeInfo& info) {
    switch (info.family) {
        case OpcodeFamily::ConsoleInput: return Device::Keyboard;
        case OpcodeFamily::TextFiles:
        case OpcodeFamily::TypedFiles:
        case OpcodeFamily::FileState: return Device::Files;
        case OpcodeFamily::KeyboardScreen:
            return info.number == static_cast<std::int32_t>(Opcode::READ_KEY) ? Device::Keyboard : Device::Screen;
        case OpcodeFamily::ConsoleControl:
            if (info.number == static_cast<std::int32_t>(Opcode::FLUSH_INPUT)) return Device::Keyboard;
            if (info.number == static_cast<std::int32_t>(Opcode::DELAY)) return Device::None;
            return Device::Screen;
        default: return Device::None;
    }
}

ProgramSummary summarize(const ProgramInput& program) {
    ProgramSummary s;
    s.kind = program.kind;
    s.sourceName = program.sourceName;
    s.codeWords = program.code.size();
    s.codeTextBytes = program.codeText.size();
    s.compressedBytes = program.kind == InputKind::Packed ? program.streamBytes : encodeStream(program.codeText).size();
    s.streamCutShort = program.streamCutShort;
    for (const CodeItem& item : decodeCode(program.code)) {
        if (!item.info) {
            ++s.dataWords;
            continue;
        }
        ++s.instructions;
        ++s.byFamily[static_cast<std::size_t>(item.info->family)];
        switch (deviceOf(*item.info)) {
            case Device::Keyboard: s.keyboard.insert(item.info->mnemonic); break;
            case Device::Screen: s.screen.insert(item.info->mnemonic); break;
            case Device::Files: s.files.insert(item.info->mnemonic); break;
            case Device::None: break;
        }
    }
    return s;
}

namespace {

std::string field(std::string_view name, const std::string& value) {
    std::string line(name);
    line += ':';
    line.resize(std::max<std::size_t>(line.size() + 1, 15), ' ');
    return line + value + "\n";
}

std::string uses(const std::set<std::string_view>& mnemonics) {
    if (mnemonics.empty()) return "no";
    std::string text = "yes (";
    for (const std::string_view m : mnemonics) {
        if (text.back() != '(') text += ", ";
        text += m;
    }
    return text + ")";
}

std::string kindText(InputKind kind) {
    switch (kind) {
        case InputKind::Packed: return "packed executable";
        case InputKind::CodeText: return "code text";
        case InputKind::Listing: return "listing";
    }
    return "";
}

}  // namespace

std::string formatSummary(const ProgramSummary& s, const std::string& path) {
    std::string text = field("file", printable(path) + " (" + kindText(s.kind) + ")");
    if (s.kind == InputKind::Packed) text += field("source name", printable(s.sourceName));
    text += field("code", std::to_string(s.codeWords) + " words, " + std::to_string(s.codeTextBytes) +
                              " bytes of code text");
    text += field("compressed", std::to_string(s.compressedBytes) + " bytes" +
                                    (s.kind == InputKind::Packed ? "" : " (as lousa pack would write it)") +
                                    (s.streamCutShort ? ", ends inside a token" : ""));
    text += field("instructions", std::to_string(s.instructions) +
                                      (s.dataWords ? ", and " + std::to_string(s.dataWords) + " words of data" : ""));
    for (std::size_t f = 0; f < kOpcodeFamilyCount; ++f) {
        if (s.byFamily[f] == 0) continue;
        std::string name(familyName(static_cast<OpcodeFamily>(f)));
        name.resize(std::max<std::size_t>(name.size() + 1, 21), ' ');
        text += "  " + name + std::to_string(s.byFamily[f]) + "\n";
    }
    text += field("keyboard", uses(s.keyboard));
    text += field("screen", uses(s.screen));
    text += field("files", uses(s.files));
    return text;
}

}  // namespace lousa::tool
