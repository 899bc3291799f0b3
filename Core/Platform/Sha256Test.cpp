// A digest read piece by piece from a source is the digest of its bytes,
// across the pieces' edges too.
#include <gtest/gtest.h>

#include "Core/Platform/Sha256.hpp"

namespace tarvik {
namespace {

TEST(Sha256, SourceReadInPiecesGivesTheDigestOfItsBytes) {
    const std::string pieces(copyChunkSize * 2 + 3, 'x');
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {pieces, nullptr}};
    for (const auto& [text, known] : cases) {
        SCOPED_TRACE(text.size());
        const Bytes bytes(text.begin(), text.end());
        MemorySource source(bytes);
        EXPECT_EQ(sha256Hex(source), sha256Hex(text));
        if (known) {
            EXPECT_EQ(sha256Hex(text), known);
        }
    }
}

}  // namespace
}  // namespace tarvik
