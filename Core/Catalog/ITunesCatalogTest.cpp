#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Core/Catalog/ITunesCatalog.hpp"
#include "Core/Catalog/ITunesURL.hpp"
#include "Core/Testing/HttpServer.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::HttpServer;
using Replies = std::vector<HttpServer::Reply>;
using Waits = std::vector<double>;  // seconds

// Every member the client reads, an id beyond what a double holds, a whole
// number written as 1.0, a null and a key it does not know.
const std::string answerBody =
    R"({"resultCount": 2, "results": [{"wrapperType": "track", "artistName": "A",
    "collectionName": "B", "collectionArtistName": "V", "collectionId": 9007199254740993,
    "trackName": "空", "trackNumber": 3, "discNumber": 1.0, "releaseDate": "2011",
    "primaryGenreName": "J-Pop", "trackPrice": 250}, {"collectionName": "青", "artistName": null}]})";
const CatalogRecords answer = {
    {"track", "A", "B", "V", 9007199254740993, "空", 3, 1, "2011", "J-Pop"},
    {.collectionName = "青"}};

HttpServer::Reply reply(int status, std::string body = {}, bool endless = false) {
    return {status, std::move(body), {}, {}, endless};
}

Replies answers(const std::vector<std::string>& bodies) {
    Replies replies;
    for (const std::string& body : bodies) replies.push_back(reply(200, body));
    return replies;
}

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
                return !stop.stop_requested();
            });
        client->setOnNotice([this](const std::string& notice) { notices.push_back(notice); });
        return client;
    }

    void replyAll(const Replies& replies) {
        for (const HttpServer::Reply& reply : replies) server.reply(reply);
    }

    testing::TempDir dir;
    HttpServer server;
    const std::string previousBase = ITunesURL::setBase(server.base());
    std::shared_ptr<CatalogCache> cache = std::make_shared<CatalogCache>(dir / "catalog.sqlite");
    std::chrono::steady_clock::time_point now{};
    Waits waits;
    std::size_t stopAtWait = 0;
    std::stop_source stopper;
    std::vector<std::string> notices;
};

// The address is also the cache key, so its bytes are part of the stored data.
TEST_F(ITunesCatalogTest, RequestsArePacedCarryTheUserAgentAndTheExactAddressAndAreCached) {
    struct Case {
        std::chrono::seconds gap;  // since the request before
        std::string artist, title, target;
    };
    const std::string tail = "&limit=10&country=JP&lang=ja_jp";
    const std::vector<Case> cases = {
        {0s, "青い鳥 楽団", "空 （Live） 「初回盤」",
         "/search?term=%E9%9D%92%E3%81%84%E9%B3%A5+%E6%A5%BD%E5%9B%A3+%E7%A9%BA&entity=album" +
             tail},
        {1s, "", "", "/lookup?id=-7&entity=song&country=JP&lang=ja_jp"},
        {5s, " a+b&c d/e%=\xFF\U0001F600 ", "(Intro)",
         "/search?term=+a%2Bb%26c+d%2Fe%25%3D%FF%F0%9F%98%80++%28Intro%29&entity=song" + tail},
    };
    const auto client = makeClient();
    const auto ask = [&](const Case& c) {
        return c.target.starts_with("/lookup") ? client->lookupTracks(-7, {})
               : c.target.find("album") != std::string::npos
                   ? client->searchAlbums(c.artist, c.title, {})
                   : client->searchSongs(c.artist, c.title, {});
    };
    for (const Case& c : cases) {
        server.reply(200, answerBody);
        now += c.gap;
        const CatalogRecords expected = c.artist.empty() ? CatalogRecords{answer[0]} : answer;
        EXPECT_EQ(ask(c), expected) << c.target;
        EXPECT_EQ(ask(c), expected) << c.target << " from the cache";
        EXPECT_EQ(server.requests().back().target, c.target);
        EXPECT_EQ(server.requests().back().headers.at("user-agent"), "Tarvik/3.0");
        EXPECT_EQ(cache->get(server.base() + c.target.substr(1)), answer) << "all of it is kept";
    }
    EXPECT_EQ(server.requests().size(), cases.size());
    EXPECT_EQ(waits, Waits{2.2}) << "at least 3.2 s between requests, not more";
}

// An endless answer once took the program to 3 GB in seconds, and a huge one
// became one row of the cache.
TEST_F(ITunesCatalogTest, FailedAttemptsAreRetriedOrGivenUpAndNeverStored) {
    const std::string huge(ITunesCatalog::answerLimit, ' ');
    Replies oversized(4, reply(200, answerBody, true));
    oversized.push_back(reply(200, R"({"results": [)" + huge + "]}"));
    const Waits growing{30, 60, 90, 120, 150}, fives(5, 5.0);
    const std::vector<std::tuple<std::string, Replies, Waits>> cases = {
        {"429", Replies(5, reply(429, "slow down")), growing},
        {"403", Replies(5, reply(403)), growing},
        {"503", Replies(5, reply(503)), growing},
        {"404", Replies(1, reply(404, answerBody)), {}},
        {"500", Replies(1, reply(500, answerBody)), {}},
        {"unreadable",
         answers({"", "{}", R"({"results": null})", R"({"resultCount": 0})", "<html>busy</html>"}),
         fives},
        {"unreadable records",
         answers({R"({"results": [{}, {"trackNumber": "5"}]})",
                  R"({"results": [{"trackNumber": 5.5}]})", R"({"results": [{"artistName": 5}]})",
                  R"({"results": [{"collectionId": 9223372036854775808}]})",
                  R"({"results": [{"trackNumber": 1e400}]})"}),
         fives},
        {"endless or oversized", oversized, fives},
    };
    for (const auto& [what, replies, expectedWaits] : cases) {
        waits.clear();
        notices.clear();
        replyAll(replies);
        const std::size_t before = server.requests().size();
        EXPECT_TRUE(makeClient()->searchSongs("A", what, {}).empty()) << what;
        EXPECT_EQ(server.requests().size() - before, replies.size()) << what;
        EXPECT_EQ(waits, expectedWaits) << what;
        // The user hears of each refusal.
        const bool refused = expectedWaits == growing;
        EXPECT_EQ(notices, std::vector(refused ? 5 : 0, std::string(ITunesCatalog::waitingNotice)));
        EXPECT_FALSE(cache->get(ITunesURL::songSearch("A", what))) << what;
    }
    waits.clear();
    replyAll(answers({"<html>Please sign in</html>", answerBody}));
    EXPECT_EQ(makeClient()->searchSongs("A", "B", {}), answer) << "the retry is answered";
    EXPECT_EQ(waits, Waits{5});
}

// The client is switched off after the third question in a row that used up
// its attempts, and only then; what the cache holds is served all the same.
// A stopped question ends in the wait it is in, and neither counts as
// unanswered nor resets the count.
TEST_F(ITunesCatalogTest, ThreeUnansweredQuestionsInARowSwitchTheClientOff) {
    std::string closedBase;
    {
        HttpServer gone;
        closedBase = gone.base();
    }
    struct Scenario {
        const char* what;
        // Per question: the status of every attempt, "junk" (a 200 that is no
        // envelope), "down" (no server) or "stop<n>" (429s, stopped in wait n).
        std::vector<std::string> questions;
        std::string lastError;
    };
    const std::vector<Scenario> scenarios = {
        {"another status leaves the count; unreadable answers raise it",
         {"429", "404", "503", "junk"},
         "応答を読めません"},
        {"an answer resets the count", {"403", "403", "200", "429", "429", "429"}, "不明"},
        {"no server at all", {"down", "down", "down"}, "サーバーに接続できません"},
        {"stopped questions", {"429", "429", "stop1", "stop5", "429"}, "不明"},
    };
    cache->put(ITunesURL::lookup(9), answer, std::chrono::system_clock::now());
    for (const Scenario& scenario : scenarios) {
        notices.clear();
        const auto client = makeClient();
        for (const std::string& word : scenario.questions) {
            const bool stopped = word.starts_with("stop"), down = word == "down";
            const int status = word == "junk" ? 200 : stopped ? 429 : down ? 0 : std::stoi(word);
            const std::size_t attempts = down      ? 0
                                         : stopped ? std::size_t(word[4] - '0')
                                         : word == "200" || word == "404" ? 1
                                                                          : 5;
            stopper = std::stop_source();
            stopAtWait = stopped ? waits.size() + attempts : 0;
            ITunesURL::setBase(down ? closedBase : server.base());
            replyAll(
                Replies(attempts, reply(status, word == "200" ? answerBody : "<html></html>")));
            const std::size_t before = server.requests().size();
            client->searchSongs(scenario.what, word + std::to_string(before), stopper.get_token());
            EXPECT_EQ(server.requests().size() - before, attempts) << scenario.what << " " << word;
            EXPECT_EQ(client->disabled(), &word == &scenario.questions.back())
                << scenario.what << " " << word;
        }
        EXPECT_EQ(notices.back(), ITunesCatalog::disabledNotice(scenario.lastError));
        ITunesURL::setBase(server.base());
        const std::size_t asked = server.requests().size();
        EXPECT_TRUE(client->searchSongs(scenario.what, "again", {}).empty());
        EXPECT_EQ(server.requests().size(), asked) << "a switched-off client does not try";
        EXPECT_EQ(client->lookupTracks(9, {}), CatalogRecords{answer[0]}) << scenario.what;
    }
}

}  // namespace
}  // namespace tarvik
