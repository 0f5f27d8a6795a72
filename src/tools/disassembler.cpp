#include "tools/disassembler.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <set>

#include "tools/assembler.hpp"
#include "vm/opcode_table.hpp"

namespace lousa::tool {

namespace {

// Longest run of undecodable words written on one .word line.
constexpr std::size_t kWordsPerDataLine = 8;

using Item = CodeItem;

// How many words the instruction at p takes, or 0 when it does not fit in
// the code (cut short, or a count or name that runs past the end).
std::size_t instructionLength(const std::vector<Word>& code, std::size_t p, const OpcodeInfo& info, std::string& note) {
    const std::size_t size = code.size();
    if (info.operands == "*") {
        if (p + 1 >= size) return note = "count missing", 0;
        const Word n = code[p + 1];
        if (n < 0 || static_cast<std::size_t>(n) > size - p - 2)
            return note = "count " + std::to_string(n) + " does not fit in the code", 0;
        return static_cast<std::size_t>(n) + 2;
    }
    if (info.operands == "$") {
        // The machine reads at most 255 characters before the -1.
        for (std::size_t k = p + 1; k < size && k <= p + 256; ++k)
            if (code[k] == -1) return k - p + 1;
        return note = "name without its -1 marker", 0;
    }
    const std::size_t length = 1 + info.operands.size();
    if (p + length > size) return note = "operands cut short by the end of the code", 0;
    return length;
}

void appendOperand(std::string& text, const std::string& operand) {
    text += ' ';
    text += operand;
}

bool printableByte(Word w) {
    if (w < -128 || w > 127) return false;
    const auto byte = static_cast<std::uint8_t>(w);
    return byte >= 0x20 && byte != 0x7F && byte != 0xFF && byte != 0xF0;
}

class Disassembler {
public:
    explicit Disassembler(const std::vector<Word>& code) : code_(code), items_(decodeCode(code)) {
        for (const Item& item : items_) starts_.insert(item.address);
        collectTargets();
    }

    std::string run(std::string_view sourceName) {
        addressWidth_ = std::to_string(code_.empty() ? 0 : code_.size() - 1).size();
        std::size_t labelWidth = 0;
        for (const std::size_t t : targets_) labelWidth = std::max(labelWidth, label(t).size() + 1);
        labelWidth_ = labelWidth;

        out_ += "; " + std::string(sourceName) + ": " + std::to_string(code_.size()) + " code words\n";
        for (std::size_t i = 0; i < items_.size();) {
            if (items_[i].info) {
                writeInstruction(items_[i]);
                ++i;
                continue;
            }
            // A run of data words, broken at jump targets.
            std::size_t j = i + 1;
            while (j < items_.size() && !items_[j].info && j - i < kWordsPerDataLine &&
                   !targets_.contains(items_[j].address) && items_[j - 1].note.empty() && items_[j].note.empty())
                ++j;
            writeData(i, j);
            i = j;
        }
        return std::move(out_);
    }

private:
    [[nodiscard]] std::string label(std::size_t address) const {
        std::string text(1, 'L');
        text += std::to_string(address);
        return text;
    }

    // Where an a or d operand of the instruction at p leads.
    [[nodiscard]] std::int64_t targetOf(const Item& item, std::size_t k) const {
        const Word value = code_[item.address + 1 + k];
        if (item.info->operands[k] == 'd') return wrapAdd(static_cast<Word>(item.address), value);
        return value;
    }

    void collectTargets() {
        for (const Item& item : items_) {
            if (!item.info || item.info->variableLength()) continue;
            for (std::size_t k = 0; k < item.info->operands.size(); ++k) {
                const char letter = item.info->operands[k];
                if (letter != 'a' && letter != 'd') continue;
                const std::int64_t target = targetOf(item, k);
                if (target >= 0 && static_cast<std::size_t>(target) < code_.size() &&
                    starts_.contains(static_cast<std::size_t>(target)))
                    targets_.insert(static_cast<std::size_t>(target));
            }
        }
    }

    void startLine(std::size_t address) {
        std::string prefix = std::to_string(address) + ":";
        prefix.insert(0, addressWidth_ + 1 - prefix.size(), ' ');
        out_ += prefix + " ";
        std::string labelText = targets_.contains(address) ? label(address) + ":" : "";
        labelText.resize(std::max(labelWidth_, labelText.size()), ' ');
        out_ += labelText + (labelWidth_ > 0 ? " " : "");
    }

    void endLine(const std::string& text, const std::string& comment) {
        out_ += text;
        if (!comment.empty()) out_ += "  ; " + comment;
        out_ += '\n';
    }

    void writeData(std::size_t from, std::size_t to) {
        startLine(items_[from].address);
        std::string text = ".word";
        for (std::size_t i = from; i < to; ++i) appendOperand(text, std::to_string(code_[items_[i].address]));
        std::string comment = items_[from].note;
        if (comment.empty() && to - from == 1 && !opcodeInfo(code_[items_[from].address])) comment = "no such instruction";
        endLine(text, comment);
    }

    void writeInstruction(const Item& item) {
        startLine(item.address);
        const OpcodeInfo& info = *item.info;
        const Word* ops = code_.data() + item.address + 1;
        const std::size_t count = item.length - 1;
        std::string text(info.mnemonic);
        std::string comment;
        if (info.operands == "$") {
            const std::vector<Word> name(ops, ops + count - 1);
            if (std::all_of(name.begin(), name.end(), [](Word w) { return w >= -128 && w <= 127; })) {
                std::string bytes;
                for (const Word w : name) bytes.push_back(static_cast<char>(w));
                appendOperand(text, listingStringLiteral(bytes));
            } else {
                for (std::size_t k = 0; k < count; ++k) appendOperand(text, std::to_string(ops[k]));
            }
        } else if (info.operands == "*") {
            for (std::size_t k = 0; k < count; ++k) appendOperand(text, std::to_string(ops[k]));
        } else {
            for (std::size_t k = 0; k < count; ++k) appendOperand(text, operandText(item, k, comment));
        }
        if (info.operands == "*" && count > 1 && std::all_of(ops + 1, ops + count, printableByte)) {
            // Strings are pushed last character first: the text reads backwards.
            std::string bytes;
            for (std::size_t k = count; k-- > 1;) bytes.push_back(static_cast<char>(ops[k]));
            comment = listingStringLiteral(bytes);
        }
        if (item.info->number == static_cast<Word>(Opcode::PUSH_REAL)) {
            const std::uint64_t bits = (std::uint64_t{static_cast<UWord>(ops[1])} << 32) | static_cast<UWord>(ops[0]);
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%.17g", std::bit_cast<double>(bits));
            comment = buffer;
        }
        endLine(text, comment);
    }

    std::string operandText(const Item& item, std::size_t k, std::string& comment) {
        const char letter = item.info->operands[k];
        const Word value = code_[item.address + 1 + k];
        if (letter != 'a' && letter != 'd') return std::to_string(value);
        const std::int64_t target = targetOf(item, k);
        if (target >= 0 && static_cast<std::size_t>(target) < code_.size()) {
            const auto t = static_cast<std::size_t>(target);
            if (targets_.contains(t)) {
                if (letter == 'd') noteRoutine(t, comment);
                return label(t);
            }
            comment = "to " + std::to_string(target) + ", inside an instruction";
        } else {
            comment = "to " + std::to_string(target) + ", outside the code";
        }
        return std::to_string(value);
    }

    // A call whose target opens a routine is annotated with the routine's name.
    void noteRoutine(std::size_t target, std::string& comment) const {
        const auto it = std::lower_bound(items_.begin(), items_.end(), target,
                                         [](const Item& item, std::size_t a) { return item.address < a; });
        for (auto i = it; i != items_.end() && i - it < 2; ++i) {
            if (!i->info || i->info->operands != "$") continue;
            std::string name;
            for (std::size_t a = i->address + 1; code_[a] != -1; ++a)
                name += printableByte(code_[a]) ? listingCharText(static_cast<std::uint8_t>(code_[a]), '"') : "?";
            comment = name;
            return;
        }
    }

    const std::vector<Word>& code_;
    std::vector<Item> items_;
    std::set<std::size_t> starts_;
    std::set<std::size_t> targets_;
    std::size_t addressWidth_ = 1;
    std::size_t labelWidth_ = 0;
    std::string out_;
};

}  // namespace

std::vector<CodeItem> decodeCode(const std::vector<Word>& code) {
    std::vector<CodeItem> items;
    for (std::size_t p = 0; p < code.size();) {
        CodeItem item{p, 1, opcodeInfo(code[p]), {}};
        if (item.info) {
            item.length = instructionLength(code, p, *item.info, item.note);
            if (item.length == 0) {
                item.note = std::string(item.info->mnemonic) + ": " + item.note;
                item.info = nullptr;
                item.length = 1;
            }
        }
        items.push_back(std::move(item));
        p += items.back().length;
    }
    return items;
}

std::string disassemble(const std::vector<Word>& code, std::string_view sourceName) {
    return Disassembler(code).run(sourceName);
}

}  // namespace lousa::tool
