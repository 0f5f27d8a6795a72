#pragma once
// The stack of open routine activations: a name and the frame base at entry.
//
// The names live one after the other in a single buffer, each record keeping
// where its name starts: a push copies the name's characters and nothing is
// allocated per record, so a stack millions of records deep (a program that
// enters scopes and never returns) costs a few bytes a record, is charged to
// the run's memory account, and is freed at once.
//
// Every routine call pushes and every return pops, so both are a handful of
// machine instructions when there is room; growing is out of line.

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>

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
    ~PilhaEscopo() { releaseFrom(account_, recordsCapacity_ * sizeof(Record) + namesBytes(namesCapacity_)); }
    PilhaEscopo(const PilhaEscopo&) = delete;
    PilhaEscopo& operator=(const PilhaEscopo&) = delete;

    // How far past its end a name given to pushPadded may be read.
    static constexpr std::size_t kNamePadding = 16;

    // Throws MemoryCeilingReached when the record does not fit the account;
    // the stack is then as it was.
    void push(std::string_view name, Word frameBase) {
        if (name.size() > kNamePadding) return pushPadded(name, frameBase);  // copied at its length
        char padded[kNamePadding] = {};
        std::memcpy(padded, name.data(), name.size());
        pushPadded(std::string_view(padded, name.size()), frameBase);
    }
    // The same, for a name whose storage holds kNamePadding readable bytes
    // past its end (what they hold does not matter): a short name is then
    // one 16-byte copy. The names' buffer keeps as many bytes of slack.
    void pushPadded(std::string_view name, Word frameBase) {
        const std::size_t length = name.size();
        if (size_ == recordsCapacity_ || length >= namesCapacity_ - namesSize_) [[unlikely]]
            makeRoom(length);
        char* const to = names_.get() + namesSize_;
        records_[size_++] = Record{namesSize_, frameBase};
        namesSize_ += length;
        // The characters last: their stores may alias anything, the fields included.
        if (length <= kNamePadding)
            std::memcpy(to, name.data(), kNamePadding);
        else
            std::memcpy(to, name.data(), length);
    }
    // A pop with nothing left is ignored: only broken code returns more often than it entered.
    void pop() {
        if (size_ == 0) return;
        namesSize_ = records_[--size_].nameStart;
    }

    [[nodiscard]] std::size_t size() const { return size_; }
    [[nodiscard]] EscopoVO top() const { return at(size_ - 1); }
    [[nodiscard]] EscopoVO at(std::size_t i) const {
        if (i >= size_) throw std::out_of_range("PilhaEscopo::at");
        const std::size_t start = records_[i].nameStart;
        const std::size_t end = i + 1 < size_ ? records_[i + 1].nameStart : namesSize_;
        return EscopoVO{std::string_view(names_.get() + start, end - start), records_[i].frameBase};
    }

private:
    struct Record {
        std::size_t nameStart;  // the name runs from here to the next record's start
        Word frameBase;
    };

    // The names' buffer of a capacity, with its slack.
    static std::size_t namesBytes(std::size_t capacity) { return capacity == 0 ? 0 : capacity + kNamePadding; }

    // Room for one more record and `length` more name bytes, and more (so
    // that even an empty name finds a buffer to copy its padding to). Each buffer
    // grows geometrically; the new one is charged before it is allocated
    // and the old one released after, and nothing changes if either fails.
    [[gnu::noinline, gnu::cold]] void makeRoom(std::size_t length) {
        if (size_ == recordsCapacity_) {
            const std::size_t grown = std::max<std::size_t>(2 * recordsCapacity_, 16);
            std::unique_ptr<Record[]> bigger = allocateCharged<Record>(grown);
            std::copy_n(records_.get(), size_, bigger.get());
            records_ = std::move(bigger);
            releaseFrom(account_, recordsCapacity_ * sizeof(Record));
            recordsCapacity_ = grown;
        }
        if (length >= namesCapacity_ - namesSize_) {
            const std::size_t grown = std::max({namesSize_ + length + 1, 2 * namesCapacity_, std::size_t{16}});
            std::unique_ptr<char[]> bigger = allocateCharged<char>(namesBytes(grown));
            if (namesSize_ > 0) std::memcpy(bigger.get(), names_.get(), namesSize_);
            names_ = std::move(bigger);
            releaseFrom(account_, namesBytes(namesCapacity_));
            namesCapacity_ = grown;
        }
    }
    template <typename T>
    std::unique_ptr<T[]> allocateCharged(std::size_t count) {
        chargeTo(account_, count * sizeof(T));
        try {
            return std::unique_ptr<T[]>(new T[count]);
        } catch (...) {
            releaseFrom(account_, count * sizeof(T));
            throw;
        }
    }

    MemoryAccount* account_ = nullptr;
    std::unique_ptr<Record[]> records_;
    std::size_t size_ = 0;
    std::size_t recordsCapacity_ = 0;
    // The names one after the other; only the first namesSize_ bytes are in
    // use, and kNamePadding bytes follow the capacity.
    std::unique_ptr<char[]> names_;
    std::size_t namesSize_ = 0;
    std::size_t namesCapacity_ = 0;
};

}  // namespace lousa
