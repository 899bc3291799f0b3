// Whether a device profile describes something the converter, the tag writer
// and the card planner can really produce. Stateless and pure; callable from
// any thread; never fails: every problem found is returned, each tied to the
// field it concerns, with a Japanese message for the user.
#pragma once

#include <string>
#include <vector>

#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik::ProfileValidator {

struct Problem {
    std::string field;    // dotted path in the profile file, such as "tags.format"
    std::string message;  // Japanese, for the user

    // The field, ": " and the message, as the editor shows it.
    std::string description() const;
    bool operator==(const Problem&) const = default;
};

// Every problem in a fixed order; empty when the profile is valid.
std::vector<Problem> validate(const DeviceProfile& profile);

}  // namespace tarvik::ProfileValidator
