#include <gtest/gtest.h>

#include "Core/Testing/FuzzReplay.hpp"

namespace tarvik {
namespace {

// Every input that once broke a reader of this folder, through its fuzz
// target again.
TEST(FuzzCorpus, KeptInputsRunCleanly) {
    testing::replayFuzzCorpus(TARVIK_SOURCE_DIR "/Core/Convert/testdata/fuzz");
}

}  // namespace
}  // namespace tarvik
