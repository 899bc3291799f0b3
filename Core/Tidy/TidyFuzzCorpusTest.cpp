#include <gtest/gtest.h>

#include "Core/Testing/FuzzReplay.hpp"

namespace tarvik {
namespace {

// Every input that once broke a reader of this folder, through its fuzz
// target again.
TEST(TidyFuzzCorpus, KeptInputsRunCleanly) {
    testing::replayFuzzCorpus(TARVIK_SOURCE_DIR "/Core/Tidy/testdata/fuzz");
}

}  // namespace
}  // namespace tarvik
