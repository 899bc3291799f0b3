#include "Core/Testing/FuzzReplay.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "Core/Platform/WholeFile.hpp"
#include "Core/Testing/Fuzz.hpp"

namespace tarvik::testing {

void replayFuzzCorpus(const std::filesystem::path& corpus) {
    ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
    std::size_t played = 0;
    for (const auto& folder : std::filesystem::directory_iterator(corpus)) {
        const std::string name = folder.path().filename().string();
        const auto target = fuzz::targets().find(name);
        if (target == fuzz::targets().end()) {
            ADD_FAILURE() << "no fuzz target " << name << " for " << folder.path();
            continue;
        }
        std::vector<std::filesystem::path> inputs;
        for (const auto& input : std::filesystem::directory_iterator(folder.path())) {
            inputs.push_back(input.path());
        }
        std::sort(inputs.begin(), inputs.end());
        for (const std::filesystem::path& input : inputs) {
            SCOPED_TRACE(name + "/" + input.filename().string());
            const Bytes data = readWholeFile(input);
            EXPECT_NO_THROW(target->second(data));
            ++played;
        }
    }
    EXPECT_GT(played, 0u) << "nothing kept in " << corpus;
}

}  // namespace tarvik::testing
