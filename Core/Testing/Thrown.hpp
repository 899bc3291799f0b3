// The message of the `Error` a call throws, so a test checks an error's own
// text in one line; "(nothing thrown)" when the call returns. Any other
// exception passes through and fails the test.
#pragma once

#include <string>
#include <utility>

namespace tarvik::testing {

template <class Error, class Call>
std::string thrown(Call&& call) {
    try {
        std::forward<Call>(call)();
    } catch (const Error& error) {
        return error.what();
    }
    return "(nothing thrown)";
}

}  // namespace tarvik::testing
