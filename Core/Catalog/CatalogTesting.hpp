// Test-only helpers of the catalogue tests: a guard that points the service's
// base address elsewhere for one test, and a catalogue fake that answers from
// tables and records every question in order. Not part of the library.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "Core/Catalog/ITunesURL.hpp"
#include "Core/Catalog/MusicCatalog.hpp"

namespace tarvik::testing {

class ScopedBase {
public:
    explicit ScopedBase(std::string address) : previous_(ITunesURL::setBase(std::move(address))) {}
    ~ScopedBase() { ITunesURL::setBase(previous_); }
    ScopedBase(const ScopedBase&) = delete;
    ScopedBase& operator=(const ScopedBase&) = delete;

private:
    std::string previous_;
};

// Answers by the question's own words and logs each question as
// "albums:<artist>|<album>", "tracks:<id>" or "songs:<artist>|<title>".
class RecordingCatalog final : public MusicCatalog {
public:
    std::map<std::string, CatalogRecords> albums;  // key "<artist>|<album>"
    std::map<std::int64_t, CatalogRecords> tracks;
    std::map<std::string, CatalogRecords> songs;  // key "<artist>|<title>"

    CatalogRecords searchAlbums(const std::string& artist, const std::string& album,
                                std::stop_token) override {
        return answer(albums, artist + "|" + album, "albums:");
    }
    CatalogRecords lookupTracks(std::int64_t collectionId, std::stop_token) override {
        return CatalogJson::onlyTracks(answer(tracks, collectionId, "tracks:"));
    }
    CatalogRecords searchSongs(const std::string& artist, const std::string& title,
                               std::stop_token) override {
        return answer(songs, artist + "|" + title, "songs:");
    }

    std::vector<std::string> questions() const {
        std::lock_guard lock(mutex_);
        return questions_;
    }

private:
    template <typename Key>
    CatalogRecords answer(const std::map<Key, CatalogRecords>& table, const Key& key,
                          const std::string& kind) {
        std::lock_guard lock(mutex_);
        if constexpr (std::is_same_v<Key, std::string>) {
            questions_.push_back(kind + key);
        } else {
            questions_.push_back(kind + std::to_string(key));
        }
        const auto found = table.find(key);
        return found == table.end() ? CatalogRecords{} : found->second;
    }

    mutable std::mutex mutex_;  // guards questions_
    std::vector<std::string> questions_;
};

}  // namespace tarvik::testing
