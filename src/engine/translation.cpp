#include "engine/translation.hpp"

#include <algorithm>

#include "storage/pilha_escopo.hpp"
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

// RET_FUNC at r with a result the tier returns itself: up to four words,
// not a string (its flag word is not 1).
// Its frame's parameter words number at most kFrameWords.
bool isPlainRetFunc(const Original& r, const WordMemory& memory) {
    return r.op == kRET_FUNC && memory.read(static_cast<UWord>(r.address + 3)) != 1 && r.y >= 0 && r.y <= 4 &&
           r.x >= 0 && r.x <= kFrameWords;
}

// ENTER n m that the tier runs itself: n from 0 to kFrameWords. Its form
// keeps n plus m's positive part, which sp may not pass the memory limit by.
bool isPlainEnter(const Original& e) { return e.op == kENTER && e.x >= 0 && e.x <= kFrameWords; }
Word enterReach(const Original& e) { return e.x + std::max<Word>(e.y, 0); }

// The words LOAD_STR n may read of its variable: a string value holds at
// most 255 characters, whatever the capacity says.
Word stringReach(Word n) { return std::clamp<Word>(n, 0, 255); }

Iop compareOp(Word op, Iop lt, int stride) {
    const int index = op == kLT_INT ? 0 : op == kLE_INT ? 1 : op == kGT_INT ? 2 : op == kGE_INT ? 3 : 4;
    return static_cast<Iop>(static_cast<int>(lt) + index * stride);
}

}  // namespace

Translation::Translation(Word codeSize)
    : codeSize_(std::max<Word>(codeSize, 0)),
      entries_(static_cast<std::size_t>(codeSize_)),
      covered_(static_cast<std::size_t>(codeSize_)) {}

void Translation::reset() {
    code_.clear();
    origin_.clear();
    names_.clear();
    for (const UWord address : entered_) entries_[address] = 0;
    entered_.clear();
    covered_.clear();
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
           entries_.bytes() + entered_.capacity() * sizeof(UWord) + covered_.bytes() + names_.capacity();
}

std::int32_t Translation::entryFor(const WordMemory& memory, Word pc) {
    if (static_cast<UWord>(pc) >= static_cast<UWord>(codeSize_)) return -1;
    const std::int32_t existing = entries_[static_cast<UWord>(pc)] - 1;
    return existing >= 0 ? existing : translateRegion(memory, pc);
}

std::int32_t Translation::emit(Iop op, Word origin, Word a, Word b, Word c, Word target, Word d, Word e, Word f) {
    const auto index = static_cast<std::int32_t>(code_.size());
    Insn insn;
    insn.a = a;
    insn.b = b;
    insn.c = c;
    insn.d = d;
    insn.e = e;
    insn.f = f;
    insn.target = target;
    insn.op = op;
    insn.weight = static_cast<std::uint8_t>(kIopTable[static_cast<std::size_t>(op)].weight);
    code_.push_back(insn);
    origin_.push_back(origin);
    if (op != Iop::Goto && static_cast<UWord>(origin) < static_cast<UWord>(codeSize_) &&
        entries_[static_cast<UWord>(origin)] == 0) {
        entries_[static_cast<UWord>(origin)] = index + 1;
        entered_.push_back(static_cast<UWord>(origin));
    }
    return index;
}

bool Translation::takesLine(Iop op) {
    switch (op) {
        case Iop::Generic:
        case Iop::Goto:
        case Iop::Line:
        case Iop::LinePushLocal0:
        case Iop::LinePushAddr0:
        case Iop::LineLtLocalConstBranch:
        case Iop::LineLeLocalConstBranch:
        case Iop::LineGtLocalConstBranch:
        case Iop::LineGeLocalConstBranch:
        case Iop::LineEqLocalConstBranch:
        case Iop::Jump:
        case Iop::JumpTest:
        case Iop::IncLocal0Test:
        case Iop::JumpRetFunc:
        case Iop::JumpRetProc:
        case Iop::ScopeEnter:
        case Iop::ScopeEnterEnter:
        case Iop::StoreN1:
        case Iop::StoreN2:
        case Iop::AddStoreN1:
        case Iop::SubStoreN1:
        case Iop::StoreConstN1:
        case Iop::ModConstStoreN1:
        case Iop::ElementStoreConst:
        case Iop::Inc: return false;
        default: return true;
    }
}

namespace {

// A translated form: the internal instruction, its operands, the words of
// code it reads and whether anything after it runs by falling through.
struct Form {
    Iop op = Iop::Generic;
    Word a = 0, b = 0, c = 0, d = 0, target = 0;
    Word used = 0;
    bool ends = false;
    Word e = 0, f = 0;
};

// The longest window a form looks at, in original instructions.
constexpr int kWindow = 6;

bool isIntArith(Word op) { return op == kADD_INT || op == kSUB_INT || op == kMUL_INT; }
bool isRealArith(Word op) { return op == kADD_REAL || op == kSUB_REAL || op == kMUL_REAL; }
Iop byArith(Word op, Iop add) { return static_cast<Iop>(static_cast<int>(add) + (op == kADD_INT || op == kADD_REAL ? 0 : op == kSUB_INT || op == kSUB_REAL ? 1 : 2)); }

// The form that starts at w[0]; w[n] has op -1 past what a form may cover
// (the end of the code, or a jump target of the region: a form never spans one).
Form match(const Original* w, const WordMemory& memory) {
    const auto level0 = [&](int n, Word op) { return w[n].op == op && w[n].x == 0; };
    const auto span = [&](int count) {
        Word used = 0;
        for (int n = 0; n < count; ++n) used += w[n].length;
        return used;
    };
    const auto form = [&](Iop op, int count, Word a = 0, Word b = 0, Word c = 0, Word d = 0, Word e = 0) {
        return Form{op, a, b, c, d, 0, span(count), false, e};
    };
    const Original& i = w[0];
    const Word op = i.op;
    const Word at = i.address;

    if (op == kADDR_UP && i.x == 0) {
        const Word a = i.y;
        if (level0(1, kADDR_UP) && w[2].op == kLOAD_N && w[2].x == 2 && w[3].op == kSTORE_N && w[3].x == 2)
            return form(Iop::CopyReal0, 4, a, w[1].y);
        if (level0(1, kLOAD_UP) && (w[2].op == kPUSH || level0(2, kLOAD_UP)) && (w[3].op == kADD_INT || w[3].op == kSUB_INT) &&
            w[4].op == kSTORE_N && w[4].x == 1) {
            if (w[2].op == kPUSH) return form(w[3].op == kADD_INT ? Iop::SetLocalAddConst : Iop::SetLocalSubConst, 5, a, w[1].y, w[2].x);
            return form(w[3].op == kADD_INT ? Iop::SetLocalAddLocal : Iop::SetLocalSubLocal, 5, a, w[1].y, w[2].y);
        }
        if ((w[1].op == kPUSH || level0(1, kLOAD_UP)) && w[2].op == kSTORE_N && w[2].x == 1)
            return w[1].op == kPUSH ? form(Iop::SetLocal0Const, 3, a, w[1].x) : form(Iop::CopyLocal0, 3, a, w[1].y);
        if (w[1].op == kINC) {
            if (w[2].op != kJUMP) return form(Iop::IncLocal0, 2, a);
            Form f = form(Iop::IncLocal0Jump, 3, a);
            f.target = w[2].x;
            f.ends = true;
            return f;
        }
        if (w[1].op == kLOAD_N && w[1].x == 2) {
            if (level0(2, kADDR_UP) && w[3].op == kLOAD_N && w[3].x == 2 && isRealArith(w[4].op)) {
                if (w[4].op == kMUL_REAL && (w[5].op == kADD_REAL || w[5].op == kSUB_REAL))
                    return form(w[5].op == kADD_REAL ? Iop::MulAddRealLocals : Iop::MulSubRealLocals, 6, a, w[2].y);
                return form(byArith(w[4].op, Iop::AddRealLocals), 5, a, w[2].y);
            }
            if (isRealArith(w[2].op)) {
                if (w[3].op == kSTORE_N && w[3].x == 2) return form(byArith(w[2].op, Iop::AddRealLocal0Store), 4, a);
                return form(byArith(w[2].op, Iop::AddRealLocal0), 3, a);
            }
            return form(Iop::LoadReal0, 2, a);
        }
    }
    if (op == kADDR_UP && i.x == 0 && w[1].op == kLOAD_STR) {
        if ((w[2].op == kSTR_POS && w[2].x == 1) || (w[2].op == kCONCAT && w[2].x == 0))
            return form(w[2].op == kSTR_POS ? Iop::LocalStrPos : Iop::LocalConcat, 3, i.y, stringReach(w[1].x));
        return form(Iop::LoadStrLocal0, 2, i.y, stringReach(w[1].x));
    }
    if (op == kADDR_UP && i.x == 0 && w[1].op == kLOAD_SET) {
        if (w[2].op == kIN_SET && w[3].op == kJUMP_FALSE) {
            Form f = form(Iop::LoadSetLocal0InSetBranch, 4, i.y);
            f.target = w[3].x;
            return f;
        }
        return form(Iop::LoadSetLocal0, 2, i.y);
    }
    if (op == kIN_SET && w[1].op == kJUMP_FALSE) {
        Form f = form(Iop::InSetBranch, 2);
        f.target = w[1].x;
        return f;
    }
    if (op == kCHECK_SET && w[1].op == kSTORE_SET) return form(Iop::CheckStoreSet, 2, i.x, i.y);
    if (op == kADDR_UP && i.x == 1 && w[1].op == kLOAD_N && w[1].x == 2) return form(Iop::LoadReal1, 2, i.y);
    if (op == kLOAD_UP && i.x == 0) {
        const Word a = i.y;
        if (w[1].op == kPUSH && isIntCompare(w[2].op)) {
            if (w[3].op != kJUMP_FALSE) return form(compareOp(w[2].op, Iop::LtLocalConst, 1), 3, a, w[1].x);
            Form f = form(compareOp(w[2].op, Iop::LtLocalConstBranch, 1), 4, a, w[1].x);
            f.target = w[3].x;
            return f;
        }
        if (w[1].op == kPUSH && (w[2].op == kADD_INT || w[2].op == kSUB_INT)) {
            // An argument worked out from a local, then the call: f(n - 1).
            if (w[3].op == kCALL && (w[3].x == 0 || w[3].x == 1)) {
                Form f = form(w[2].op == kADD_INT ? Iop::CallLocalAddConst : Iop::CallLocalSubConst, 4, a, w[1].x,
                              wrapAdd(w[3].address, 3), w[3].x);
                f.target = wrapAdd(w[3].address, w[3].y);
                return f;
            }
            return form(w[2].op == kADD_INT ? Iop::LocalAddConst : Iop::LocalSubConst, 3, a, w[1].x);
        }
        if (level0(1, kLOAD_UP) && isIntArith(w[2].op)) return form(byArith(w[2].op, Iop::LocalsAdd), 3, a, w[1].y);
        if (w[1].op == kCHECK_INDEX && w[2].op == kINDEX_ADDR && w[2].x == 1) {
            if (w[3].op == kLOAD_N && w[3].x == 1) return form(Iop::ElementLoad, 4, a, w[1].x, w[1].y, w[2].y);
            if (w[3].op == kPUSH && w[4].op == kSTORE_N && w[4].x == 1)
                return form(Iop::ElementStoreConst, 5, a, w[1].x, w[1].y, w[2].y, w[3].x);
            return form(Iop::ElementAddr, 3, a, w[1].x, w[1].y, w[2].y);
        }
        if (isIntArith(w[1].op)) return form(byArith(w[1].op, Iop::AddLocal0), 2, a);
        // The array's base in a local (a pointer, a var parameter), then its
        // element loaded (and tested), or a constant stored into it.
        if (level0(1, kLOAD_UP) && w[2].op == kCHECK_INDEX && w[3].op == kINDEX_ADDR && w[3].x == 1) {
            Form f;
            if (w[4].op == kLOAD_N && w[4].x == 1) {
                const bool tests = w[5].op == kJUMP_FALSE;
                f = form(tests ? Iop::LocalElementLoadBranch : Iop::LocalElementLoad, tests ? 6 : 5, w[1].y, w[2].x, w[2].y,
                         w[3].y);
                if (tests) f.target = w[5].x;
            } else if (w[4].op == kPUSH && w[5].op == kSTORE_N && w[5].x == 1) {
                f = form(Iop::LocalElementStoreConst, 6, w[1].y, w[2].x, w[2].y, w[3].y, w[4].x);
            }
            if (f.used > 0) {
                f.f = a;
                return f;
            }
        }
    }
    if (op == kPUSH) {
        if (isIntArith(w[1].op)) return form(byArith(w[1].op, Iop::AddConst), 2, i.x);
        if (w[1].op == kMOD_INT) {
            if (w[2].op == kSTORE_N && w[2].x == 1) return form(Iop::ModConstStoreN1, 3, i.x);
            return form(Iop::ModConst, 2, i.x);
        }
        if (w[1].op == kSTORE_N && w[1].x == 1) return form(Iop::StoreConstN1, 2, i.x);
        if (w[1].op == kPUSH_N && w[1].x > 0) return form(Iop::PushConstWords, 2, w[1].x, w[1].address + 2, i.x);
    }
    if (op == kPUSH_REAL && (w[1].op == kLT_REAL || w[1].op == kLE_REAL)) {
        if (w[2].op == kAND_INT && w[3].op == kJUMP_FALSE) {
            Form f = form(w[1].op == kLT_REAL ? Iop::LtRealConstAndBranch : Iop::LeRealConstAndBranch, 4, i.x, i.y);
            f.target = w[3].x;
            return f;
        }
        return form(w[1].op == kLT_REAL ? Iop::LtRealConst : Iop::LeRealConst, 2, i.x, i.y);
    }
    if ((isIntCompare(op) || op == kAND_INT) && w[1].op == kJUMP_FALSE) {
        Form f = form(op == kAND_INT ? Iop::AndBranch : compareOp(op, Iop::LtBranch, 1), 2);
        f.target = w[1].x;
        return f;
    }
    if ((op == kADD_INT || op == kSUB_INT) && w[1].op == kSTORE_N && w[1].x == 1)
        return form(op == kADD_INT ? Iop::AddStoreN1 : Iop::SubStoreN1, 2);
    if (op == kCHECK_INDEX && w[1].op == kINDEX_ADDR && w[1].x == 1) return form(Iop::IndexChecked, 2, i.x, i.y, w[1].y);
    if (op == kFIELD && w[1].op == kLOAD_N && w[1].x == 1) return form(Iop::FieldLoad, 2, i.x);
    if (op == kSCOPE_ENTER) {
        // The name's characters, as the reference step gathers them: a, b
        // and c (ENTER's operands) are filled in by the caller, which keeps
        // the name.
        if (isPlainEnter(w[1])) return form(Iop::ScopeEnterEnter, 2, 0, 0, w[1].x, w[1].y, enterReach(w[1]));
        return form(Iop::ScopeEnter, 1);
    }

    // One instruction. A frame slot at level 0 or 1 has its own form; deeper ones run as they are.
    Form f = form(Iop::Generic, 1, op, at + i.length);
    const auto byLevel = [&](Iop level0Form, Iop level1Form) {
        if (i.x == 0 || i.x == 1) f = form(i.x == 0 ? level0Form : level1Form, 1, i.y);
    };
    switch (op) {
        case kLINE: f = form(Iop::Line, 1, i.x); break;
        case kPUSH: f = form(Iop::PushConst, 1, i.x); break;
        case kLOAD_UP: byLevel(Iop::PushLocal0, Iop::PushLocal1); break;
        case kADDR_UP: byLevel(Iop::PushAddr0, Iop::PushAddr1); break;
        case kPUSH_REAL: f = form(Iop::PushReal, 1, i.x, i.y); break;
        case kDUP:
            if (i.x == 1) f = form(Iop::Dup1, 1);
            break;
        case kLOAD_N:
        case kSTORE_N:
            if (i.x == 1 || i.x == 2)
                f = form(op == kLOAD_N ? (i.x == 1 ? Iop::LoadN1 : Iop::LoadN2) : (i.x == 1 ? Iop::StoreN1 : Iop::StoreN2), 1);
            break;
        case kADD_INT: f = form(Iop::AddInt, 1); break;
        case kSUB_INT: f = form(Iop::SubInt, 1); break;
        case kMUL_INT: f = form(Iop::MulInt, 1); break;
        case kMOD_INT: f = form(Iop::ModInt, 1); break;
        case kAND_INT: f = form(Iop::AndInt, 1); break;
        case kOR_INT: f = form(Iop::OrInt, 1); break;
        case kLT_INT:
        case kLE_INT:
        case kGT_INT:
        case kGE_INT:
        case kEQ_INT: f = form(compareOp(op, Iop::LtInt, 1), 1); break;
        case kADD_REAL: f = form(Iop::AddReal, 1); break;
        case kSUB_REAL: f = form(Iop::SubReal, 1); break;
        case kMUL_REAL: f = form(Iop::MulReal, 1); break;
        case kLT_REAL: f = form(Iop::LtReal, 1); break;
        case kLE_REAL: f = form(Iop::LeReal, 1); break;
        case kJUMP:
            f = form(Iop::Jump, 1);
            f.target = i.x;
            f.ends = true;
            break;

        case kJUMP_FALSE:
            f = form(Iop::JumpFalse, 1);
            f.target = i.x;
            break;
        case kINC: f = form(Iop::Inc, 1); break;
        case kPUSH_N:
            if (i.x > 0) f = form(Iop::PushWords, 1, i.x, at + 2);
            break;
        case kLOAD_STR: f = form(Iop::LoadStr, 1, stringReach(i.x)); break;
        case kSTORE_STR: f = form(Iop::StoreStr, 1, std::max<Word>(i.x, 0)); break;
        case kCONCAT: f = form(Iop::Concat, 1, i.x); break;
        case kSTR_POS: f = form(Iop::StrPos, 1, i.x); break;
        case kCOPY: f = form(Iop::Copy, 1); break;
        case kSTR: f = form(Iop::StrInt, 1, i.x); break;
        case kLOAD_SET: f = form(Iop::LoadSet, 1); break;
        case kCHECK_SET: f = form(Iop::CheckSet, 1, i.x, i.y); break;
        case kSTORE_SET: f = form(Iop::StoreSet, 1); break;
        case kIN_SET: f = form(Iop::InSet, 1); break;
        case kSET_UNION: f = form(Iop::SetUnion, 1); break;
        case kSET_INTER: f = form(Iop::SetInter, 1); break;
        case kSET_DIFF: f = form(Iop::SetDiff, 1); break;
        case kCHECK_INDEX: f = form(Iop::CheckIndex, 1, i.x, i.y); break;
        case kINDEX_ADDR:
            if (i.x == 1) f = form(Iop::IndexAddr1, 1, i.y);
            break;
        case kFIELD: f = form(Iop::Field, 1, i.x); break;
        case kCALL:
            if (i.x == 0 || i.x == 1) {
                f = form(i.x == 0 ? Iop::Call0 : Iop::Call1, 1, 0, wrapAdd(at, 3));
                f.target = wrapAdd(at, i.y);
            }
            break;
        case kENTER:
            if (isPlainEnter(i)) f = form(Iop::Enter, 1, i.x, i.y, enterReach(i));
            break;
        case kRET_FUNC: {
            if (isPlainRetFunc(i, memory)) f = form(Iop::RetFunc, 1, i.x, i.y);
            f.ends = true;
            break;
        }
        case kRET_PROC:
            f = form(Iop::RetProc, 1, i.x);
            f.ends = true;
            break;
        default: f.ends = op == kHALT || op == kENTER_JUMP || opcodeInfo(op) == nullptr; break;
    }
    return f;
}

// The test at a loop's head, when it is [LINE; ] LOAD_UP 0 local; PUSH k;
// an integer comparison; JUMP_FALSE exit.
struct LoopTest {
    bool found = false;
    bool withLine = false;
    Word line = 0, local = 0, constant = 0, compare = 0, exit = 0;
    Word body = 0;  // the address after the JUMP_FALSE
};

LoopTest loopTestAt(const Reader& reader, Word head) {
    LoopTest test;
    Original t = reader.at(head);
    test.withLine = t.op == kLINE;
    if (test.withLine) {
        test.line = t.x;
        t = reader.after(t);
    }
    const Original k = t.op >= 0 ? reader.after(t) : Original{};
    const Original cmp = k.op >= 0 ? reader.after(k) : Original{};
    const Original jf = cmp.op >= 0 ? reader.after(cmp) : Original{};
    if (t.op == kLOAD_UP && t.x == 0 && k.op == kPUSH && isIntCompare(cmp.op) && jf.op == kJUMP_FALSE) {
        test.found = true;
        test.local = t.y;
        test.constant = k.x;
        test.compare = static_cast<Word>(compareOp(cmp.op, Iop::LtInt, 1)) - static_cast<Word>(Iop::LtInt);
        test.exit = jf.x;
        test.body = jf.address + jf.length;
    }
    return test;
}

// Where a region's instructions jump to inside the region itself: the first
// instructions up to the region's likely end, one at a time.
std::vector<Word> targetsWithin(const Reader& reader, Word start, const ZeroedTable<std::int32_t>& entries) {
    std::vector<Word> jumps;
    Word low = start, high = start;
    Original i = reader.at(start);
    for (int count = 0; count < kRegionLimit && i.op >= 0; ++count) {
        if (i.address != start && entries[static_cast<UWord>(i.address)] != 0) break;
        high = i.address;
        if (i.op == kJUMP || i.op == kJUMP_FALSE) jumps.push_back(i.x);
        if (i.op == kJUMP || i.op == kRET_FUNC || i.op == kRET_PROC || i.op == kHALT || i.op == kENTER_JUMP ||
            opcodeInfo(i.op) == nullptr)
            break;
        i = reader.after(i);
    }
    std::erase_if(jumps, [&](Word t) { return t <= low || t > high; });
    std::sort(jumps.begin(), jumps.end());
    return jumps;
}

}  // namespace

std::int32_t Translation::translateRegion(const WordMemory& memory, Word start) {
    const Reader reader(memory, codeSize_);
    const auto first = static_cast<std::int32_t>(code_.size());
    const std::vector<Word> targets = targetsWithin(reader, start, entries_);
    const auto isTarget = [&](Word address) { return std::binary_search(targets.begin(), targets.end(), address); };
    Original i = reader.at(start);
    Word next = start;  // where falling through the region's end continues
    for (int count = 0; count < kRegionLimit; ++count) {
        next = i.address;
        if (i.address != start && entries_[static_cast<UWord>(i.address)] != 0) break;
        if (i.op < 0) {
            // Not whole inside the code: the reference step reads it live.
            emit(Iop::Generic, i.address, i.op, -1);
            next = -1;
            break;
        }
        Original w[kWindow + 1];
        w[0] = i;
        for (int n = 1; n <= kWindow && w[n - 1].op >= 0; ++n) {
            const Original o = reader.after(w[n - 1]);
            if (isTarget(o.address)) break;
            w[n] = o;
        }
        const Word at = i.address;
        Form f = match(w, memory);
        // LINE and a frame slot pushed at level 0, unless the push starts a
        // longer form; LINE and a local tested against a constant.
        if (i.op == kLINE && (w[1].op == kLOAD_UP || w[1].op == kADDR_UP) && w[1].x == 0) {
            const Form after = match(w + 1, memory);
            const auto test = static_cast<int>(after.op) - static_cast<int>(Iop::LtLocalConstBranch);
            if (after.used == w[1].length) {
                f = Form{};
                f.op = w[1].op == kLOAD_UP ? Iop::LinePushLocal0 : Iop::LinePushAddr0;
                f.a = i.x;
                f.b = w[1].y;
                f.used = i.length + w[1].length;
            } else if (test >= 0 && test < 5) {
                f = after;
                f.op = static_cast<Iop>(static_cast<int>(Iop::LineLtLocalConstBranch) + test);
                f.c = i.x;
                f.used += i.length;
            }
        }
        // Any other LINE goes into the form after it, when that form takes one.
        bool lined = false;
        if (f.op == Iop::Line && w[1].op >= 0) {
            const Form after = match(w + 1, memory);
            if (takesLine(after.op)) {
                f = after;
                f.used += i.length;
                lined = true;
            }
        }
        // A JUMP to a return is the return (the end of an if's then part
        // in a function): the return's words are read here too.
        if (f.op == Iop::Jump) {
            const Original r = reader.at(i.x);
            const bool retFunc = isPlainRetFunc(r, memory);
            if (retFunc || r.op == kRET_PROC) {
                f.op = retFunc ? Iop::JumpRetFunc : Iop::JumpRetProc;
                f.a = r.x;
                f.b = r.y;
                std::fill_n(covered_.data() + r.address, r.length, std::uint8_t{1});
            }
        }
        // A function's result taken from a local, then a JUMP to its
        // return (`f := n` ending an if's then part): one instruction.
        if (f.op == Iop::CopyLocal0) {
            const Original jump = reader.at(wrapAdd(at, f.used));
            const Original r = jump.op == kJUMP && !isTarget(jump.address) ? reader.at(jump.x) : Original{};
            if (isPlainRetFunc(r, memory)) {
                f.op = Iop::CopyLocal0RetFunc;
                f.c = r.x;
                f.d = r.y;
                f.used += jump.length;
                f.ends = true;
                std::fill_n(covered_.data() + r.address, r.length, std::uint8_t{1});
            }
        }
        // A JUMP, or a local's INC and JUMP, to a loop's test of a local
        // against a constant runs the test too, going on at the loop's body
        // or out at the JUMP_FALSE's target. The test's words are read here too.
        Word testLine = 0;
        if (f.op == Iop::Jump || (f.op == Iop::IncLocal0Jump && !lined)) {
            const Word head = f.target;
            const LoopTest test = loopTestAt(reader, head);
            if (test.found && (f.op == Iop::Jump || test.local == f.a)) {
                f.op = f.op == Iop::Jump ? Iop::JumpTest : Iop::IncLocal0Test;
                f.a = test.local;
                f.b = test.constant;
                f.c = test.compare + (test.withLine ? 8 : 0);
                f.d = test.exit;
                f.target = test.body;
                testLine = test.line;
                std::fill_n(covered_.data() + head, f.target - head, std::uint8_t{1});
            }
        }
        // v := v + w or v := v + k, then a JUMP back to a loop's test of v
        // (the step at the end of a `while` body): the three are one. The
        // test's LINE and the statement's cannot both be kept.
        if ((f.op == Iop::SetLocalAddLocal || f.op == Iop::SetLocalAddConst) && f.a == f.b) {
            const Original jump = reader.at(wrapAdd(at, f.used));
            const LoopTest test = jump.op == kJUMP && !isTarget(jump.address) ? loopTestAt(reader, jump.x) : LoopTest{};
            if (test.found && test.local == f.a && !(lined && test.withLine)) {
                const Word head = jump.x;
                f.f = f.c;
                f.c = test.compare + (test.withLine ? 8 : 0) + (f.op == Iop::SetLocalAddConst ? 16 : 0);
                f.op = Iop::AddLocalTest;
                f.b = test.constant;
                f.d = test.exit;
                f.target = test.body;
                f.used += jump.length;
                f.ends = true;
                testLine = test.line;
                std::fill_n(covered_.data() + head, f.target - head, std::uint8_t{1});
            }
        }
        if (f.op == Iop::ScopeEnter || f.op == Iop::ScopeEnterEnter) {
            f.a = static_cast<Word>(names_.size());
            for (Word n = 1; n < i.length - 1; ++n) names_.push_back(static_cast<char>(memory.read(static_cast<UWord>(at + n)) & 0xFF));
            f.b = static_cast<Word>(names_.size()) - f.a;
            names_.append(PilhaEscopo::kNamePadding, '\0');
        }
        const std::int32_t index = emit(f.op, at, f.a, f.b, f.c, f.target, f.d, f.e, f.f);
        Insn& insn = code_[static_cast<std::size_t>(index)];
        if (f.op == Iop::JumpTest || f.op == Iop::IncLocal0Test || f.op == Iop::AddLocalTest) {
            insn.line = testLine;
            insn.e = -1;  // the exit's translation, linked on first use
            if ((insn.c & 8) != 0) ++insn.weight;
        }
        if (lined) {
            insn.lined = true;
            insn.line = i.x;
            ++insn.weight;
        }
        std::fill_n(covered_.data() + at, std::min<Word>(f.used, codeSize_ - at), std::uint8_t{1});
        next = wrapAdd(at, f.used);
        if (f.ends || next >= codeSize_ || next < 0) break;
        i = reader.at(next);
    }
    // Whatever ended the region, falling through continues at the next address.
    emit(Iop::Goto, next, 0, 0, 0, next);
    return first;
}

}  // namespace lousa::engine
