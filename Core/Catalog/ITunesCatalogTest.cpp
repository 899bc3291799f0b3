#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "Core/Catalog/ITunesCatalog.hpp"
#include "Core/Catalog/ITunesURL.hpp"
#include "Core/Testing/HttpServer.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::HttpServer;
using Waits = std::vector<double>;  // seconds

// Every member the client reads, an id beyond what a double holds, a whole
// number written as 1.0, a null and a key it does not know.
const std::string answerBody =
    R"({"resultCount": 2, "results": [{"wrapperType": "track", "artistName": "A",
    "collectionName": "B", "collectionArtistName": "V", "collectionId": 9007199254740993,
    "trackName": "空", "trackNumber": 3, "discNumber": 1.0, "releaseDate": "2011",
    "primaryGenreName": "J-Pop", "trackPrice": 250}, {"collectionName": "青", "artistName": null}]})";
constexpr std::int64_t collection = 9007199254740993;
const CatalogRecords answer = {{"track", "A", "B", "V", collection, "空", 3, 1, "2011", "J-Pop"},
                               {.collectionName = "青"}};

// A client on fake time: every sleep is recorded and moves the clock on at
// once; the sleep numbered `stopAtWait` (from 1) stops `stopper` instead.
class ITunesCatalogTest : public ::testing::Test {
protected:
    ~ITunesCatalogTest() override { ITunesURL::setBase(previousBase); }

    std::unique_ptr<ITunesCatalog> makeClient() {
        auto client = std::make_unique<ITunesCatalog>(
            cache, [this] { return now; },
            [this](std::chrono::nanoseconds wait, std::stop_token stop) {
                waits.push_back(std::chrono::duration<double>(wait).count());
                now += wait;
                if (waits.size() == stopAtWait) stopper.request_stop();
                // A real wait ends early only when the stop reaches it.
                EXPECT_EQ(stop.stop_requested(), stopper.stop_requested());
                return !stop.stop_requested();
            });
        client->setOnNotice([this](const std::string& notice) { notices.push_back(notice); });
        return client;
    }

    HttpServer server;
    const std::string previousBase = ITunesURL::setBase(server.base());
    std::shared_ptr<CatalogCache> cache = std::make_shared<CatalogCache>(":memory:");
    std::chrono::steady_clock::time_point now{};
    Waits waits;
    std::size_t stopAtWait = 0;
    std::stop_source stopper;
    std::vector<std::string> notices;
};

// The address is also the cache key, so its bytes are part of the stored data.
TEST_F(ITunesCatalogTest, RequestsArePacedCarryTheUserAgentAndTheExactAddressAndAreCached) {
    const std::string tail = "&limit=10&country=JP&lang=ja_jp";
    const auto client = makeClient();
    using Ask = std::function<CatalogRecords()>;
    // clang-format off
    const std::vector<std::tuple<std::chrono::seconds, Ask, std::string>> cases = {
        {0s, [&] { return client->searchAlbums("青い鳥 楽団", "空 （Live） 「初回盤」", {}); },
         "/search?term=%E9%9D%92%E3%81%84%E9%B3%A5+%E6%A5%BD%E5%9B%A3+%E7%A9%BA"
         "&entity=album" + tail},
        {1s, [&] { return client->lookupTracks(collection, {}); },
         "/lookup?id=9007199254740993&entity=song&country=JP&lang=ja_jp"},
        {5s, [&] { return client->searchSongs(" a+b&c d/e%=\xFF\U0001F600 ", "(Intro)", {}); },
         "/search?term=+a%2Bb%26c+d%2Fe%25%3D%FF%F0%9F%98%80++%28Intro%29&entity=song" + tail}};
    // clang-format on
    for (const auto& [gap, ask, target] : cases) {
        server.reply(200, answerBody);
        now += gap;
        // A lookup gives back only the tracks, but the cache keeps all of it.
        const CatalogRecords expected =
            target.starts_with("/lookup") ? CatalogRecords{answer[0]} : answer;
        EXPECT_EQ(ask(), expected) << target;
        EXPECT_EQ(ask(), expected) << target << " from the cache";
        EXPECT_EQ(server.requests().back().target, target);
        EXPECT_EQ(server.requests().back().headers.at("user-agent"), "Tarvik/3.0");
        EXPECT_EQ(cache->get(server.base() + target.substr(1)), answer) << target;
    }
    EXPECT_EQ(server.requests().size(), cases.size());
    EXPECT_EQ(waits, Waits{2.2}) << "at least 3.2 s between requests, not more";
}

// Each question gets the same kind of trouble in every attempt. Refusals are
// waited out longer and longer, other failures 5 s each, and a question that
// used up its attempts is stored nowhere; the client is switched off after
// the third such question in a row, and only then, but still answers from
// the cache. A stopped question ends in the wait it is in and neither counts
// nor resets the count. An endless answer once took the program to 3 GB in
// seconds, and a huge one became one row of the cache.
TEST_F(ITunesCatalogTest, TroubleIsRetriedNeverStoredAndThreeFailedQuestionsSwitchTheClientOff) {
    const std::string huge =
        R"({"results": [)" + std::string(ITunesCatalog::answerLimit, ' ') + "]}";
    const std::vector<std::string> empty(5);
    const Waits growing{30, 60, 90, 120, 150}, fives(5, 5.0);
    // Per kind: the status and body of each attempt, and the waits made.
    // clang-format off
    const std::map<std::string, std::tuple<int, std::vector<std::string>, Waits>> kinds = {
        {"429", {429, empty, growing}}, {"403", {403, empty, growing}},
        {"503", {503, empty, growing}}, {"stop1", {429, {""}, {30}}},
        {"stop5", {429, empty, growing}}, {"down", {0, {}, fives}},
        {"404", {404, {answerBody}, {}}}, {"500", {500, {answerBody}, {}}},
        {"retried", {200, {"<html>Please sign in</html>", answerBody}, {5}}},
        {"junk", {200, {"", "{}", R"({"results": null})", R"({"resultCount": 0})",
                        "<html>busy</html>"}, fives}},
        {"records", {200, {R"({"results": [{}, {"trackNumber": "5"}]})",
                           R"({"results": [{"trackNumber": 5.5}]})",
                           R"({"results": [{"artistName": 5}]})",
                           R"({"results": [{"collectionId": 9223372036854775808}]})",
                           R"({"results": [{"trackNumber": 1e400}]})"}, fives}},
        {"huge", {200, {answerBody, answerBody, answerBody, answerBody, huge}, fives}}};
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> scenarios = {
        {"another status leaves the count", {"429", "404", "503", "junk"}, "応答を読めません"},
        {"an answer resets the count", {"403", "403", "retried", "429", "429", "429"}, "不明"},
        {"no server at all", {"down", "down", "down"}, "サーバーに接続できません"},
        {"stopped questions", {"429", "429", "stop1", "stop5", "429"}, "不明"},
        {"oversized answers and bad records", {"500", "records", "huge", "records"},
         "応答を読めません"}};
    // clang-format on
    cache->put(ITunesURL::lookup(collection), answer, std::chrono::system_clock::now());
    for (const auto& [what, questions, lastError] : scenarios) {
        const auto client = makeClient();
        for (const std::string& word : questions) {
            const auto& [status, bodies, expectedWaits] = kinds.at(word);
            ITunesURL::setBase(word == "down" ? "http://127.0.0.1:1/" : server.base());
            // The first four answers of "huge" never end.
            for (const std::string& body : bodies)
                server.reply({status, body, {}, {}, body != huge && word == "huge"});
            const std::size_t before = server.requests().size();
            const std::string title = word + std::to_string(before), at = what + ": " + title;
            waits.clear();
            notices.clear();
            stopper = std::stop_source();
            stopAtWait = word.starts_with("stop") ? bodies.size() : 0;
            now += 10s;
            const bool answered = word == "retried", last = &word == &questions.back();
            EXPECT_EQ(client->searchSongs(what, title, stopper.get_token()),
                      answered ? answer : CatalogRecords{})
                << at;
            EXPECT_EQ(server.requests().size() - before, bodies.size()) << at;
            EXPECT_EQ(waits, expectedWaits) << at;
            EXPECT_EQ(cache->get(ITunesURL::songSearch(what, title)).has_value(), answered) << at;
            const bool refused = status == 403 || status == 429 || status == 503;
            std::vector<std::string> told(refused ? bodies.size() : 0,
                                          std::string(ITunesCatalog::waitingNotice));
            if (last) told.push_back(ITunesCatalog::disabledNotice(lastError));
            EXPECT_EQ(notices, told) << at;
            EXPECT_EQ(client->disabled(), last) << at;
        }
        ITunesURL::setBase(server.base());
        const std::size_t asked = server.requests().size();
        EXPECT_TRUE(client->searchSongs(what, "again", {}).empty());
        EXPECT_EQ(server.requests().size(), asked) << "a switched-off client does not try";
        EXPECT_EQ(client->lookupTracks(collection, {}), CatalogRecords{answer[0]}) << what;
    }
}

// An answer to "the songs of album 7" that names album 8 is no answer about
// album 7: it is neither given nor stored, also where an older cache holds
// one; the right answer then is.
TEST_F(ITunesCatalogTest, AnAnswerAboutAnotherCollectionIsNeitherUsedNorStored) {
    const auto client = makeClient();
    const std::string seven = ITunesURL::lookup(7);
    const std::string eight = R"({"results": [{"wrapperType": "collection", "collectionId": 8},
        {"wrapperType": "track", "collectionId": 8, "trackName": "Other"}]})";
    const std::string mixed = R"({"results": [{"wrapperType": "track", "collectionId": 7},
        {"wrapperType": "track", "collectionId": 8, "trackName": "Other"}]})";
    for (const std::string& body : {eight, mixed}) {
        server.reply(200, body);
        EXPECT_TRUE(client->lookupTracks(7, {}).empty()) << body;
        EXPECT_EQ(cache->get(seven), std::nullopt) << body;
    }
    cache->put(seven, Envelope::decode(eight).results, std::chrono::system_clock::now());
    server.reply(200, R"({"results": [{"wrapperType": "collection"},
        {"wrapperType": "track", "collectionId": 7, "trackName": "Own"}]})");
    const CatalogRecords own = {{.wrapperType = "track", .collectionId = 7, .trackName = "Own"}};
    EXPECT_EQ(client->lookupTracks(7, {}), own);
    EXPECT_EQ(server.requests().size(), 3U);
    EXPECT_EQ(CatalogJson::onlyTracks(cache->get(seven).value_or(CatalogRecords{})), own);
}

}  // namespace
}  // namespace tarvik
