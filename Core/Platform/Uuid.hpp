// Random (version 4) UUIDs in their canonical upper-case text form, 36
// characters in groups 8-4-4-4-12, as temporary names on cards and disks use
// them. Thread-safe; reads the kernel's random source.
#pragma once

#include <string>

namespace tarvik {

std::string makeUuid();

}  // namespace tarvik
