#include "Core/Pipeline/CarryOver.hpp"

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::CarryOver {

std::string entry(const ConversionPlan::Item& planned) {
    return entry(AlbumIdentity::of(planned.meta), planned.relativePath);
}

std::string entry(const std::string& identity, const std::string& plannedPath) {
    return identity + "\t" + text::nfcName(plannedPath);
}

bool holds(const std::set<std::string>& carried, const ConversionPlan::Item& planned) {
    return !carried.empty() &&
           holds(carried, AlbumIdentity::of(planned.meta), planned.relativePath);
}

bool holds(const std::set<std::string>& carried, const std::string& identity,
           const std::string& plannedPath) {
    if (carried.empty()) return false;
    const std::string path = text::nfcName(plannedPath);
    return carried.contains(path) || carried.contains(identity + "\t" + path);
}

}  // namespace tarvik::CarryOver
