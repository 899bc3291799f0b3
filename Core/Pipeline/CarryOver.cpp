#include "Core/Pipeline/CarryOver.hpp"

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::CarryOver {
namespace {

std::string nfcPath(const std::string& path) {
    return text::isValidUTF8(path) ? text::nfc(path) : path;
}

}  // namespace

std::string entry(const ConversionPlan::Item& planned) {
    return AlbumIdentity::of(planned.meta) + "\t" + nfcPath(planned.relativePath);
}

bool holds(const std::set<std::string>& carried, const ConversionPlan::Item& planned) {
    if (carried.empty()) return false;
    const std::string path = nfcPath(planned.relativePath);
    return carried.contains(path) ||
           carried.contains(AlbumIdentity::of(planned.meta) + "\t" + path);
}

}  // namespace tarvik::CarryOver
