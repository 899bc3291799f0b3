// Test-only helper of the catalogue's users: a catalogue fake that answers
// songs from a table and records every question in order, from any thread.
// Not part of the library.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Core/Catalog/MusicCatalog.hpp"

namespace tarvik::testing {

// Answers songs from a table, by "<artist>|<title>", and nothing else; logs
// each question as "albums:<artist>|<album>", "tracks:<id>" or
// "songs:<artist>|<title>".
class RecordingCatalog final : public MusicCatalog {
public:
    std::map<std::string, CatalogRecords> songs;

    CatalogRecords searchAlbums(const std::string& artist, const std::string& album,
                                std::stop_token) override {
        return answer("albums:", artist + "|" + album);
    }
    CatalogRecords lookupTracks(std::int64_t collectionId, std::stop_token) override {
        return answer("tracks:", std::to_string(collectionId));
    }
    CatalogRecords searchSongs(const std::string& artist, const std::string& title,
                               std::stop_token) override {
        return answer("songs:", artist + "|" + title);
    }

    std::vector<std::string> questions() const {
        std::lock_guard lock(mutex_);
        return questions_;
    }

private:
    CatalogRecords answer(const std::string& kind, const std::string& key) {
        std::lock_guard lock(mutex_);
        questions_.push_back(kind + key);
        const auto found = songs.find(key);
        return kind == "songs:" && found != songs.end() ? found->second : CatalogRecords{};
    }

    mutable std::mutex mutex_;  // guards questions_
    std::vector<std::string> questions_;
};

}  // namespace tarvik::testing
