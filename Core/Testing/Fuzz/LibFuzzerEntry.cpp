// libFuzzer's entry point for a program built from one fuzz target
// (scripts/fuzz builds one program per target).
#include <cstddef>
#include <cstdint>

#include "Core/Testing/Fuzz.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const auto& [name, target] : tarvik::fuzz::targets()) target({data, size});
    return 0;
}
