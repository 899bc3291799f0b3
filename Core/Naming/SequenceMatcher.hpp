// Similarity of two sequences of Unicode scalars from their longest common
// blocks: the ratio 2·M/T of the matched elements M over the total length T,
// with the "popular element" rule that keeps long texts cheap. Stateless and
// pure; safe from any thread. The second sequence is the one indexed, so the
// ratio may depend on the order of the arguments.
#pragma once

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarvik::SequenceMatcher {

struct Block {
    std::int64_t a = 0;       // start in the first sequence
    std::int64_t b = 0;       // start in the second sequence
    std::int64_t length = 0;  // number of equal elements

    bool operator==(const Block&) const = default;
};

// Each element of the second sequence that is not popular, to the ascending
// positions where it occurs there.
using Index = std::unordered_map<char32_t, std::vector<std::int64_t>>;

Index makeIndex(std::u32string_view b);

// The longest matching block in a[alo, ahi) and b[blo, bhi).
Block findLongestMatch(std::u32string_view a, std::u32string_view b, const Index& index,
                       std::int64_t alo, std::int64_t ahi, std::int64_t blo, std::int64_t bhi);

// The matching blocks in order, adjacent blocks merged, without a closing empty block.
std::vector<Block> matchingBlocks(std::u32string_view a, std::u32string_view b);

double ratio(std::string_view a, std::string_view b);

}  // namespace tarvik::SequenceMatcher
