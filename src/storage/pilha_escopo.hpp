#pragma once
// The stack of open routine activations: a name and the frame base at entry.

#include <string>
#include <utility>
#include <vector>

#include "vm/word.hpp"

namespace lousa {

class PilhaEscopo {
public:
    struct EscopoVO {
        std::string name;
        Word frameBase = 0;
    };

    void push(std::string name, Word frameBase) { records_.push_back(EscopoVO{std::move(name), frameBase}); }
    // A pop with nothing left is ignored: only broken code returns more often than it entered.
    void pop() {
        if (!records_.empty()) records_.pop_back();
    }

    [[nodiscard]] std::size_t size() const { return records_.size(); }
    [[nodiscard]] const EscopoVO& top() const { return records_.back(); }
    [[nodiscard]] const EscopoVO& at(std::size_t i) const { return records_.at(i); }

private:
    std::vector<EscopoVO> records_;
};

}  // namespace lousa
