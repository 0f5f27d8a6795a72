#pragma once
// The stack of open routine activations: a name and the frame base at entry.
//
// The names live one after the other in a single buffer, each record keeping
// where its name ends: a push copies the name's characters and nothing is
// allocated per record, so a stack millions of records deep (a program that
// enters scopes and never returns) costs a few bytes a record, is charged to
// the run's memory account, and is freed at once.

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "storage/memory_account.hpp"
#include "vm/word.hpp"

namespace lousa {

class PilhaEscopo {
public:
    // A record as read back: the name stays valid until the next push or pop.
    struct EscopoVO {
        std::string_view name;
        Word frameBase = 0;
    };

    explicit PilhaEscopo(MemoryAccount* account = nullptr) : account_(account) {}
    ~PilhaEscopo() { releaseFrom(account_, records_.capacity() * sizeof(Record) + namesCapacity_); }
    PilhaEscopo(const PilhaEscopo&) = delete;
    PilhaEscopo& operator=(const PilhaEscopo&) = delete;

    // Throws MemoryCeilingReached when the record does not fit the account.
    void push(std::string_view name, Word frameBase) {
        reserveCharged(records_, 1, account_);
        const std::size_t end = namesSize_ + name.size();
        if (end > namesCapacity_) growNames(end);
        // Routine names are short: copied in place, without a call.
        char* to = names_.get() + namesSize_;
        for (const char c : name) *to++ = c;
        namesSize_ = end;
        records_.push_back(Record{end, frameBase});
    }
    // A pop with nothing left is ignored: only broken code returns more often than it entered.
    void pop() {
        if (records_.empty()) return;
        records_.pop_back();
        namesSize_ = nameStart(records_.size());
    }

    [[nodiscard]] std::size_t size() const { return records_.size(); }
    [[nodiscard]] EscopoVO top() const { return at(records_.size() - 1); }
    [[nodiscard]] EscopoVO at(std::size_t i) const {
        const std::size_t start = nameStart(i);
        return EscopoVO{std::string_view(names_.get() + start, records_.at(i).nameEnd - start), records_[i].frameBase};
    }

private:
    struct Record {
        std::size_t nameEnd;  // the name runs from the previous record's end to here
        Word frameBase;
    };
    [[nodiscard]] std::size_t nameStart(std::size_t i) const { return i == 0 ? 0 : records_[i - 1].nameEnd; }

    // Room for at least `needed` name bytes, growing geometrically; the new
    // buffer is charged before it is allocated and the old one released after.
    void growNames(std::size_t needed) {
        const std::size_t grown = std::max({needed, 2 * namesCapacity_, std::size_t{16}});
        chargeTo(account_, grown);
        std::unique_ptr<char[]> bigger;
        try {
            bigger.reset(new char[grown]);
        } catch (...) {
            releaseFrom(account_, grown);
            throw;
        }
        if (namesSize_ > 0) std::memcpy(bigger.get(), names_.get(), namesSize_);
        names_ = std::move(bigger);
        releaseFrom(account_, namesCapacity_);
        namesCapacity_ = grown;
    }

    MemoryAccount* account_ = nullptr;
    std::vector<Record> records_;
    // The names one after the other; only the first namesSize_ bytes are in use.
    std::unique_ptr<char[]> names_;
    std::size_t namesSize_ = 0;
    std::size_t namesCapacity_ = 0;
};

}  // namespace lousa
