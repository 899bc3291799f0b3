#include "App/Model/AppModel.hpp"

#include "Core/Catalog/MusicCatalog.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik {

ConversionRunner AppModel::makeRunner(bool) const { throw ConversionError("not yet"); }
std::shared_ptr<MusicCatalog> AppModel::makeCatalog() const { return nullptr; }
void AppModel::startPlanning() {}
void AppModel::startConversion() {}
void AppModel::handleEvent(const ConversionEvent&) {}
void AppModel::folderDone(const std::string&) {}
void AppModel::cancel() {}
void AppModel::resetRun() {}

}  // namespace tarvik
