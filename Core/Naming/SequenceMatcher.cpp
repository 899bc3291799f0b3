#include "Core/Naming/SequenceMatcher.hpp"

#include <algorithm>
#include <array>

#include "Core/Platform/Text.hpp"

namespace tarvik::SequenceMatcher {
namespace {

// The run lengths of one longest-match search, kept across the searches of one
// ratio so that no search allocates. runs[j + 1] is the length of the run
// ending at b[j]; only touched entries are cleared again.
class RunTable {
public:
    explicit RunTable(std::size_t lengthB) : current_(lengthB + 1, 0), next_(lengthB + 1, 0) {}

    std::int64_t endingBefore(std::int64_t j) const {
        return current_[static_cast<std::size_t>(j)];
    }

    void setNext(std::int64_t j, std::int64_t length) {
        next_[static_cast<std::size_t>(j + 1)] = length;
        touchedNext_.push_back(j + 1);
    }

    void advance() {
        for (std::int64_t position : touchedCurrent_)
            current_[static_cast<std::size_t>(position)] = 0;
        touchedCurrent_.clear();
        std::swap(current_, next_);
        std::swap(touchedCurrent_, touchedNext_);
    }

    void clear() {
        for (std::int64_t position : touchedCurrent_)
            current_[static_cast<std::size_t>(position)] = 0;
        touchedCurrent_.clear();
    }

private:
    std::vector<std::int64_t> current_;
    std::vector<std::int64_t> next_;
    std::vector<std::int64_t> touchedCurrent_;
    std::vector<std::int64_t> touchedNext_;
};

Block longestMatch(std::u32string_view a, std::u32string_view b, const Index& index, RunTable& runs,
                   std::int64_t alo, std::int64_t ahi, std::int64_t blo, std::int64_t bhi) {
    Block best{alo, blo, 0};
    for (std::int64_t i = alo; i < ahi; ++i) {
        auto found = index.find(a[static_cast<std::size_t>(i)]);
        if (found != index.end()) {
            for (std::int64_t j : found->second) {
                if (j < blo) continue;
                if (j >= bhi) break;
                std::int64_t k = runs.endingBefore(j) + 1;
                runs.setNext(j, k);
                if (k > best.length) best = {i - k + 1, j - k + 1, k};
            }
        }
        runs.advance();
    }
    runs.clear();

    auto inIndex = [&](std::int64_t j) { return index.contains(b[static_cast<std::size_t>(j)]); };
    auto same = [&](std::int64_t i, std::int64_t j) {
        return a[static_cast<std::size_t>(i)] == b[static_cast<std::size_t>(j)];
    };
    // Only elements left out of the index (popular ones) can extend a match:
    // every indexed element was already considered by the search above.
    while (best.a > alo && best.b > blo && !inIndex(best.b - 1) && same(best.a - 1, best.b - 1)) {
        --best.a;
        --best.b;
        ++best.length;
    }
    while (best.a + best.length < ahi && best.b + best.length < bhi &&
           !inIndex(best.b + best.length) && same(best.a + best.length, best.b + best.length)) {
        ++best.length;
    }
    return best;
}

}  // namespace

Index makeIndex(std::u32string_view b) {
    Index index;
    for (std::size_t j = 0; j < b.size(); ++j) index[b[j]].push_back(static_cast<std::int64_t>(j));
    if (b.size() >= 200) {
        const std::size_t limit = b.size() / 100 + 1;
        std::erase_if(index, [limit](const auto& entry) { return entry.second.size() > limit; });
    }
    return index;
}

Block findLongestMatch(std::u32string_view a, std::u32string_view b, const Index& index,
                       std::int64_t alo, std::int64_t ahi, std::int64_t blo, std::int64_t bhi) {
    RunTable runs(b.size());
    return longestMatch(a, b, index, runs, alo, ahi, blo, bhi);
}

std::vector<Block> matchingBlocks(std::u32string_view a, std::u32string_view b) {
    const Index index = makeIndex(b);
    RunTable runs(b.size());
    std::vector<Block> found;
    std::vector<std::array<std::int64_t, 4>> ranges{
        {0, static_cast<std::int64_t>(a.size()), 0, static_cast<std::int64_t>(b.size())}};
    while (!ranges.empty()) {
        auto [alo, ahi, blo, bhi] = ranges.back();
        ranges.pop_back();
        Block block = longestMatch(a, b, index, runs, alo, ahi, blo, bhi);
        if (block.length == 0) continue;
        found.push_back(block);
        if (alo < block.a && blo < block.b) ranges.push_back({alo, block.a, blo, block.b});
        if (block.a + block.length < ahi && block.b + block.length < bhi) {
            ranges.push_back({block.a + block.length, ahi, block.b + block.length, bhi});
        }
    }
    std::sort(found.begin(), found.end(),
              [](const Block& x, const Block& y) { return x.a != y.a ? x.a < y.a : x.b < y.b; });

    std::vector<Block> merged;
    for (const Block& block : found) {
        if (!merged.empty()) {
            Block& last = merged.back();
            if (block.a == last.a + last.length && block.b == last.b + last.length) {
                last.length += block.length;
                continue;
            }
        }
        merged.push_back(block);
    }
    return merged;
}

double ratio(std::string_view a, std::string_view b) {
    const std::u32string first = text::scalars(a);
    const std::u32string second = text::scalars(b);
    const auto total = static_cast<double>(first.size() + second.size());
    if (total == 0) return 1.0;
    std::int64_t matched = 0;
    for (const Block& block : matchingBlocks(first, second)) matched += block.length;
    return 2.0 * static_cast<double>(matched) / total;
}

}  // namespace tarvik::SequenceMatcher
