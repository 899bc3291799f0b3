#include "App/Model/AppModel.hpp"

namespace tarvik {

void AppModel::chooseSource(const std::filesystem::path&) {}
void AppModel::reloadArtists() {}
void AppModel::persistSelected() {
    services_.settings->setStringList("selected", {selected_.begin(), selected_.end()});
    setSourceNotice(std::nullopt);
}
std::vector<std::string> AppModel::filteredArtists() const { return artists_; }
bool AppModel::hasSelection() const { return !srcPath().empty() && !selected_.empty(); }
bool AppModel::canExport() const { return false; }
bool AppModel::destinationLooksLikeArtistFolder() const { return false; }

}  // namespace tarvik
