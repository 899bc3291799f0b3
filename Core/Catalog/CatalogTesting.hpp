// Test-only helpers of the catalogue's users: a catalogue fake that answers
// songs from a table and records every question in order, from any thread;
// and the catalogue service stood in by a real HTTP server on 127.0.0.1.
// Not part of the library.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Core/Catalog/CatalogCache.hpp"
#include "Core/Catalog/ITunesCatalog.hpp"
#include "Core/Catalog/ITunesURL.hpp"
#include "Core/Catalog/MusicCatalog.hpp"
#include "Core/Testing/HttpServer.hpp"

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

// The catalogue service on 127.0.0.1 for as long as it lives: it answers each
// address it was given with its records, every other one with none, and the
// clients it makes ask it through a cache in memory without pausing between
// requests. Points the process's catalogue address at itself meanwhile.
class StandInCatalogService {
public:
    StandInCatalogService() : previousBase_(ITunesURL::setBase(server_.base())) {
        server_.setFallback({200, R"({"results": []})", {}, {}});
    }
    ~StandInCatalogService() { ITunesURL::setBase(previousBase_); }
    StandInCatalogService(const StandInCatalogService&) = delete;
    StandInCatalogService& operator=(const StandInCatalogService&) = delete;

    // `url` as the address builders make it.
    void answer(const std::string& url, const CatalogRecords& records) {
        const std::string body = R"({"results": )" + CatalogJson::encodeList(records) + "}";
        server_.route(url.substr(server_.base().size() - 1), {200, body, {}, {}});
    }

    std::shared_ptr<ITunesCatalog> client() const {
        return std::make_shared<ITunesCatalog>(
            std::make_shared<CatalogCache>(":memory:"), &std::chrono::steady_clock::now,
            [](std::chrono::nanoseconds, std::stop_token stop) { return !stop.stop_requested(); });
    }

    std::size_t requestCount() const { return server_.requests().size(); }

private:
    HttpServer server_;
    const std::string previousBase_;
};

}  // namespace tarvik::testing
