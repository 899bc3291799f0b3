#include "App/Model/RunState.hpp"

namespace tarvik {

bool RunState::operator==(const RunState& other) const {
    if (kind != other.kind) return false;
    if (kind == Case::finished) return summary == other.summary && toCard == other.toCard;
    if (kind == Case::failed) return message == other.message;
    return true;
}

}  // namespace tarvik
