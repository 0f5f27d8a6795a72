#include "engine/translation.hpp"

#include <algorithm>

#include "vm/opcode_table.hpp"
#include "vm/word_memory.hpp"

namespace lousa::engine {

namespace {

// Opcode numbers by mnemonic, from the one table.
enum : Word {
#define OP(num, name, operands, handler) k##name = num,
#include "vm/opcodes.def"
#undef OP
};

// Longest region translated at once, in original instructions; a longer
// straight run continues in a region of its own.
constexpr int kRegionLimit = 1024;

// One original instruction as the translator sees it.
struct Original {
    Word address = 0;
    Word op = -1;       // opcode word, -1 when the instruction does not lie whole in the code
    Word length = 0;
    Word x = 0, y = 0;  // its first two operand words, when it has them
};

class Reader {
public:
    Reader(const WordMemory& memory, Word codeSize) : memory_(memory), codeSize_(codeSize) {}

    [[nodiscard]] Original at(Word address) const {
        Original o;
        o.address = address;
        if (!inCode(address)) return o;
        const Word op = word(address);
        const OpcodeInfo* info = opcodeInfo(op);
        Word length = 1;
        if (info == nullptr) {
            length = 1;
        } else if (info->operands == "*") {
            if (!inCode(address + 1)) return o;
            const Word n = word(address + 1);
            if (n > codeSize_) return o;  // cannot lie whole in the code (and n + 2 might overflow)
            length = n > 0 ? n + 2 : 2;  // as PUSH_N moves pc
        } else if (info->operands == "$") {
            Word n = 0;
            while (n < 255 && inCode(address + 1 + n) && word(address + 1 + n) != -1) ++n;
            if (n < 255 && !inCode(address + 1 + n)) return o;
            length = n + 2;  // as SCOPE_ENTER moves pc
        } else {
            length = 1 + static_cast<Word>(info->operands.size());
        }
        if (static_cast<std::int64_t>(address) + length > codeSize_) return o;
        o.op = op;
        o.length = length;
        if (length > 1) o.x = word(address + 1);
        if (length > 2) o.y = word(address + 2);
        return o;
    }
    [[nodiscard]] Original after(const Original& o) const { return at(o.address + o.length); }

private:
    [[nodiscard]] bool inCode(std::int64_t address) const { return address >= 0 && address < codeSize_; }
    [[nodiscard]] Word word(Word address) const { return memory_.read(static_cast<UWord>(address)); }

    const WordMemory& memory_;
    Word codeSize_;
};

bool isIntCompare(Word op) { return op == kLT_INT || op == kLE_INT || op == kGT_INT || op == kGE_INT || op == kEQ_INT; }

Iop compareOp(Word op, Iop lt, int stride) {
    const int index = op == kLT_INT ? 0 : op == kLE_INT ? 1 : op == kGT_INT ? 2 : op == kGE_INT ? 3 : 4;
    return static_cast<Iop>(static_cast<int>(lt) + index * stride);
}

}  // namespace

Translation::Translation(Word codeSize)
    : codeSize_(std::max<Word>(codeSize, 0)),
      entries_(static_cast<std::size_t>(codeSize_), -1),
      covered_(static_cast<std::size_t>(codeSize_), 0) {}

void Translation::reset() {
    code_.clear();
    origin_.clear();
    for (const UWord address : entered_) entries_[address] = -1;
    entered_.clear();
    std::fill(covered_.begin(), covered_.end(), std::uint8_t{0});
    linked_ = 0;
    ++flushes_;
}

bool Translation::invalidate(UWord low, UWord high) {
    const UWord end = std::min<UWord>(high, static_cast<UWord>(codeSize_) - 1);
    if (codeSize_ == 0 || low > end) return false;
    for (UWord a = low; a <= end; ++a) {
        if (covered_[a] != 0) {
            reset();
            return true;
        }
    }
    return false;
}

std::size_t Translation::bytesHeld() const {
    return code_.capacity() * sizeof(Insn) + origin_.capacity() * sizeof(Word) +
           entries_.capacity() * sizeof(std::int32_t) + entered_.capacity() * sizeof(UWord) + covered_.capacity();
}

std::int32_t Translation::entryFor(const WordMemory& memory, Word pc) {
    if (static_cast<UWord>(pc) >= static_cast<UWord>(codeSize_)) return -1;
    const std::int32_t existing = entries_[static_cast<UWord>(pc)];
    return existing >= 0 ? existing : translateRegion(memory, pc);
}

std::int32_t Translation::emit(Iop op, Word origin, Word a, Word b, Word c, Word target) {
    const auto index = static_cast<std::int32_t>(code_.size());
    Insn insn;
    insn.a = a;
    insn.b = b;
    insn.c = c;
    insn.target = target;
    insn.op = op;
    insn.weight = kIopTable[static_cast<std::size_t>(op)].weight;
    code_.push_back(insn);
    origin_.push_back(origin);
    if (op != Iop::Goto && static_cast<UWord>(origin) < static_cast<UWord>(codeSize_) &&
        entries_[static_cast<UWord>(origin)] < 0) {
        entries_[static_cast<UWord>(origin)] = index;
        entered_.push_back(static_cast<UWord>(origin));
    }
    return index;
}

std::int32_t Translation::translateRegion(const WordMemory& memory, Word start) {
    const Reader reader(memory, codeSize_);
    const auto first = static_cast<std::int32_t>(code_.size());
    Original i = reader.at(start);
    Word next = start;  // where falling through the region's end continues
    for (int count = 0; count < kRegionLimit; ++count) {
        next = i.address;
        if (i.address != start && entries_[static_cast<UWord>(i.address)] >= 0) break;
        if (i.op < 0) {
            // Not whole inside the code: the reference step reads it live.
            emit(Iop::Generic, i.address, i.op, -1);
            next = -1;
            break;
        }
        const Word at = i.address;
        const Original j = reader.after(i);
        const Original k = j.op >= 0 ? reader.after(j) : Original{};
        const Original l = k.op >= 0 ? reader.after(k) : Original{};
        Word used = i.length;  // words of code the emitted instruction reads
        bool ends = false;     // nothing after it runs by falling through
        const Word op = i.op;

        // An ADDR_UP 0 that starts a longer fused form is left to it.
        const bool addrStartsForm = (k.op == kPUSH || (k.op == kLOAD_UP && k.x == 0)) ? (l.op == kSTORE_N && l.x == 1)
                                                                                        : (k.op == kINC || (k.op == kLOAD_N && k.x == 2));
        if (op == kLINE && (j.op == kLOAD_UP || j.op == kADDR_UP) && j.x == 0 && !(j.op == kADDR_UP && addrStartsForm)) {
            emit(j.op == kLOAD_UP ? Iop::LinePushLocal0 : Iop::LinePushAddr0, at, i.x, j.y);
            used += j.length;
        } else if (op == kADDR_UP && i.x == 0 && (j.op == kPUSH || (j.op == kLOAD_UP && j.x == 0)) &&
                   k.op == kSTORE_N && k.x == 1) {
            if (j.op == kPUSH)
                emit(Iop::SetLocal0Const, at, i.y, j.x);
            else
                emit(Iop::CopyLocal0, at, i.y, j.y);
            used += j.length + k.length;
        } else if (op == kADDR_UP && i.x == 0 && j.op == kINC) {
            if (k.op == kJUMP) {
                emit(Iop::IncLocal0Jump, at, i.y, 0, 0, k.x);
                used += j.length + k.length;
                ends = true;
            } else {
                emit(Iop::IncLocal0, at, i.y);
                used += j.length;
            }
        } else if (op == kADDR_UP && (i.x == 0 || i.x == 1) && j.op == kLOAD_N && j.x == 2) {
            emit(i.x == 0 ? Iop::LoadReal0 : Iop::LoadReal1, at, i.y);
            used += j.length;
        } else if (op == kLOAD_UP && i.x == 0 && j.op == kPUSH && isIntCompare(k.op) && l.op == kJUMP_FALSE) {
            emit(compareOp(k.op, Iop::LtLocalConstBranch, 1), at, i.y, j.x, 0, l.x);
            used += j.length + k.length + l.length;
        } else if (op == kLOAD_UP && i.x == 0 && (j.op == kADD_INT || j.op == kSUB_INT || j.op == kMUL_INT)) {
            emit(j.op == kADD_INT ? Iop::AddLocal0 : j.op == kSUB_INT ? Iop::SubLocal0 : Iop::MulLocal0, at, i.y);
            used += j.length;
        } else if (op == kPUSH && (j.op == kADD_INT || j.op == kSUB_INT || j.op == kMUL_INT || j.op == kMOD_INT)) {
            emit(j.op == kADD_INT   ? Iop::AddConst
                 : j.op == kSUB_INT ? Iop::SubConst
                 : j.op == kMUL_INT ? Iop::MulConst
                                    : Iop::ModConst,
                 at, i.x);
            used += j.length;
        } else if (isIntCompare(op) && j.op == kJUMP_FALSE) {
            emit(compareOp(op, Iop::LtBranch, 1), at, 0, 0, 0, j.x);
            used += j.length;
        } else if (op == kCHECK_INDEX && j.op == kINDEX_ADDR && j.x == 1) {
            emit(Iop::IndexChecked, at, i.x, i.y, j.y);
            used += j.length;
        } else if (op == kFIELD && j.op == kLOAD_N && j.x == 1) {
            emit(Iop::FieldLoad, at, i.x);
            used += j.length;
        } else {
            // A frame slot at level 0 or 1 has its own form; deeper ones run as they are.
            const auto emitByLevel = [&](Iop level0, Iop level1) {
                if (i.x == 0 || i.x == 1)
                    emit(i.x == 0 ? level0 : level1, at, i.y);
                else
                    emit(Iop::Generic, at, op, at + i.length);
            };
            switch (op) {
                case kLINE: emit(Iop::Line, at, i.x); break;
                case kPUSH: emit(Iop::PushConst, at, i.x); break;
                case kLOAD_UP: emitByLevel(Iop::PushLocal0, Iop::PushLocal1); break;
                case kADDR_UP: emitByLevel(Iop::PushAddr0, Iop::PushAddr1); break;
                case kPUSH_REAL: emit(Iop::PushReal, at, i.x, i.y); break;
                case kLOAD_N:
                case kSTORE_N:
                    if (i.x == 1 || i.x == 2)
                        emit(op == kLOAD_N ? (i.x == 1 ? Iop::LoadN1 : Iop::LoadN2) : (i.x == 1 ? Iop::StoreN1 : Iop::StoreN2), at);
                    else
                        emit(Iop::Generic, at, op, at + i.length);
                    break;
                case kADD_INT: emit(Iop::AddInt, at); break;
                case kSUB_INT: emit(Iop::SubInt, at); break;
                case kMUL_INT: emit(Iop::MulInt, at); break;
                case kMOD_INT: emit(Iop::ModInt, at); break;
                case kAND_INT: emit(Iop::AndInt, at); break;
                case kOR_INT: emit(Iop::OrInt, at); break;
                case kLT_INT:
                case kLE_INT:
                case kGT_INT:
                case kGE_INT:
                case kEQ_INT: emit(compareOp(op, Iop::LtInt, 1), at); break;
                case kADD_REAL: emit(Iop::AddReal, at); break;
                case kSUB_REAL: emit(Iop::SubReal, at); break;
                case kMUL_REAL: emit(Iop::MulReal, at); break;
                case kLT_REAL: emit(Iop::LtReal, at); break;
                case kLE_REAL: emit(Iop::LeReal, at); break;
                case kJUMP:
                    emit(Iop::Jump, at, 0, 0, 0, i.x);
                    ends = true;
                    break;
                case kJUMP_FALSE: emit(Iop::JumpFalse, at, 0, 0, 0, i.x); break;
                case kINC: emit(Iop::Inc, at); break;
                case kCHECK_INDEX: emit(Iop::CheckIndex, at, i.x, i.y); break;
                case kINDEX_ADDR:
                    if (i.x == 1)
                        emit(Iop::IndexAddr1, at, i.y);
                    else
                        emit(Iop::Generic, at, op, at + i.length);
                    break;
                case kFIELD: emit(Iop::Field, at, i.x); break;
                case kCALL:
                    if (i.x == 0 || i.x == 1)
                        emit(i.x == 0 ? Iop::Call0 : Iop::Call1, at, 0, wrapAdd(at, 3), 0, wrapAdd(at, i.y));
                    else
                        emit(Iop::Generic, at, op, at + i.length);
                    break;
                case kENTER: emit(Iop::Enter, at, i.x, i.y); break;
                case kRET_FUNC: {
                    const Word flag = memory.read(static_cast<UWord>(at + 3));
                    if (flag != 1 && i.y >= 0 && i.y <= 4)
                        emit(Iop::RetFunc, at, i.x, i.y);
                    else
                        emit(Iop::Generic, at, op, at + i.length);
                    ends = true;
                    break;
                }
                case kRET_PROC:
                    emit(Iop::RetProc, at, i.x);
                    ends = true;
                    break;
                default:
                    emit(Iop::Generic, at, op, at + i.length);
                    ends = op == kHALT || op == kENTER_JUMP || opcodeInfo(op) == nullptr;
                    break;
            }
        }
        std::fill_n(covered_.begin() + at, std::min<Word>(used, codeSize_ - at), std::uint8_t{1});
        next = wrapAdd(at, used);
        if (ends || next >= codeSize_ || next < 0) break;
        i = reader.at(next);
    }
    // Whatever ended the region, falling through continues at the next address.
    emit(Iop::Goto, next, 0, 0, 0, next);
    return first;
}

}  // namespace lousa::engine
