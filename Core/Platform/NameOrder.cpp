#include "Core/Platform/NameOrder.hpp"

#include <unicode/coll.h>

#include <memory>
#include <stdexcept>

namespace tarvik::text {
namespace {

// One collator per thread: ICU documents collators as unsafe to share.
icu::Collator& rootCollator() {
    thread_local std::unique_ptr<icu::Collator> collator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Collator> created(
            icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) throw std::runtime_error("ICU root collator unavailable");
        created->setStrength(icu::Collator::TERTIARY);
        return created;
    }();
    return *collator;
}

}  // namespace

int compareNames(std::string_view a, std::string_view b) {
    UErrorCode status = U_ZERO_ERROR;
    UCollationResult result = rootCollator().compareUTF8(
        icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
        icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
    if (U_FAILURE(status)) return a.compare(b);
    if (result == UCOL_EQUAL) return a.compare(b);  // a total order: ties fall back to bytes
    return result == UCOL_LESS ? -1 : 1;
}

}  // namespace tarvik::text
