#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Catalog/ITunesCatalog.hpp"
#include "Core/Catalog/ITunesURL.hpp"
#include "Core/Testing/HttpServer.hpp"
#include "Core/Testing/TempDir.hpp"

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
const CatalogRecords answer = {
    {"track", "A", "B", "V", 9007199254740993, "空", 3, 1, "2011", "J-Pop"},
    {.collectionName = "青"}};

HttpServer::Reply scripted(int status, std::string body = {}) {
    return {status, std::move(body), {}, {}};
}

std::vector<HttpServer::Reply> times(std::size_t count, const HttpServer::Reply& reply) {
    return std::vector<HttpServer::Reply>(count, reply);
}

class ITunesCatalogTest : public ::testing::Test {
protected:
    // A client on fake time: every sleep is recorded and moves the clock on at
    // once; the sleep numbered `stopAtWait` (from 1) fires `stopper` instead.
    std::unique_ptr<ITunesCatalog> makeClient() {
        auto client = std::make_unique<ITunesCatalog>(
            cache, [this] { return now; },
            [this](std::chrono::nanoseconds wait, std::stop_token) {
                waits.push_back(std::chrono::duration<double>(wait).count());
                now += wait;
                if (waits.size() != stopAtWait) return true;
                stopper.request_stop();
                return false;
            });
        client->setOnNotice([this](const std::string& notice) { notices.push_back(notice); });
        return client;
    }

    void replyAll(const std::vector<HttpServer::Reply>& replies) {
        for (const HttpServer::Reply& reply : replies) server.reply(reply);
    }

    testing::TempDir dir;
    HttpServer server;
    testing::ScopedBase base{server.base()};
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
        char kind;                 // 'a'lbums, 's'ongs or 't'racks
        std::string artist, title, target;
    };
    const std::string tail = "&limit=10&country=JP&lang=ja_jp";
    const std::vector<Case> cases = {
        {0s, 'a', "青い鳥 楽団", "空 （Live） 「初回盤」",
         "/search?term=%E9%9D%92%E3%81%84%E9%B3%A5+%E6%A5%BD%E5%9B%A3+%E7%A9%BA&entity=album" +
             tail},
        {1s, 't', "", "", "/lookup?id=-7&entity=song&country=JP&lang=ja_jp"},
        {5s, 's', " a+b&c ", "d/e%= (Live)",
         "/search?term=+a%2Bb%26c++d%2Fe%25%3D&entity=song" + tail},
        {1s, 's', "\xFF\U0001F600", "(Intro)",
         "/search?term=%FF%F0%9F%98%80+%28Intro%29&entity=song" + tail},
    };
    const auto client = makeClient();
    const auto ask = [&](const Case& c) {
        return c.kind == 'a'   ? client->searchAlbums(c.artist, c.title, {})
               : c.kind == 's' ? client->searchSongs(c.artist, c.title, {})
                               : client->lookupTracks(-7, {});
    };
    for (const Case& c : cases) {
        server.reply(200, answerBody);
        now += c.gap;
        const CatalogRecords expected = c.kind == 't' ? CatalogRecords{answer[0]} : answer;
        EXPECT_EQ(ask(c), expected) << c.target;
        EXPECT_EQ(ask(c), expected) << c.target << " from the cache";
        EXPECT_EQ(server.requests().back().target, c.target);
        EXPECT_EQ(server.requests().back().headers.at("user-agent"), "Tarvik/3.0");
        EXPECT_EQ(cache->get(server.base() + c.target.substr(1)), answer) << "all of it is kept";
    }
    EXPECT_EQ(server.requests().size(), cases.size());
    EXPECT_EQ(waits, (Waits{2.2, 2.2})) << "at least 3.2 s between requests, not more";
}

// An endless answer once took the program to 3 GB in seconds, and a huge one
// became one row of the cache.
TEST_F(ITunesCatalogTest, FailedAttemptsAreRetriedOrGivenUpAndNeverStored) {
    struct Case {
        std::string what;
        std::vector<HttpServer::Reply> replies;  // one per attempt
        Waits waits;
        bool told = false;  // the user hears of each refusal
    };
    const Waits growing{30, 60, 90, 120, 150}, fives(5, 5.0);
    std::vector<HttpServer::Reply> unreadable, unreadableToo;
    for (const char* body :
         {"", "{}", R"({"results": null})", R"({"resultCount": 0})", "<html>busy</html>"}) {
        unreadable.push_back(scripted(200, body));
    }
    for (const char* item :
         {R"({"trackNumber": "5"})", R"({"trackNumber": 5.5})", R"({"artistName": 5})",
          R"({"collectionId": 9223372036854775808})", R"({"trackNumber": 1e400})"}) {
        unreadableToo.push_back(scripted(200, R"({"results": [{}, )" + std::string(item) + "]}"));
    }
    std::vector<HttpServer::Reply> oversized = times(4, {200, answerBody, {}, {}, true});
    oversized.push_back(
        scripted(200, R"({"results": [)" + std::string(ITunesCatalog::answerLimit, ' ') + "]}"));
    const std::vector<Case> cases = {
        {"429", times(5, scripted(429, "slow down")), growing, true},
        {"403", times(5, scripted(403)), growing, true},
        {"503", times(5, scripted(503)), growing, true},
        {"404", {scripted(404, answerBody)}, {}},
        {"500", {scripted(500, answerBody)}, {}},
        {"400", {scripted(400)}, {}},
        {"unreadable", unreadable, fives},
        {"unreadable records", unreadableToo, fives},
        {"endless or oversized", oversized, fives},
    };
    for (const Case& c : cases) {
        waits.clear();
        notices.clear();
        replyAll(c.replies);
        const std::size_t before = server.requests().size();
        EXPECT_TRUE(makeClient()->searchSongs("A", c.what, {}).empty()) << c.what;
        EXPECT_EQ(server.requests().size() - before, c.replies.size()) << c.what;
        EXPECT_EQ(waits, c.waits) << c.what;
        EXPECT_EQ(notices.size(), c.told ? c.replies.size() : 0) << c.what;
        for (const std::string& notice : notices) EXPECT_EQ(notice, ITunesCatalog::waitingNotice);
        EXPECT_FALSE(cache->get(ITunesURL::songSearch("A", c.what))) << c.what;
    }
    waits.clear();
    replyAll({scripted(200, "<html>Please sign in</html>"), scripted(200, answerBody)});
    EXPECT_EQ(makeClient()->searchSongs("A", "B", {}), answer) << "the retry is answered";
    EXPECT_EQ(waits, Waits{5});
}

// The client is switched off after the third question in a row that used up
// its attempts, and only then.
TEST_F(ITunesCatalogTest, ThreeUnansweredQuestionsInARowSwitchTheClientOff) {
    struct Scenario {
        const char* what;
        std::vector<int> statuses;  // one per question; 0: a 200 that is not the envelope
        std::string lastError;
    };
    const std::vector<Scenario> scenarios = {
        {"another status leaves the count; unreadable answers raise it",
         {429, 404, 503, 0},
         "応答を読めません"},
        {"an answer resets the count", {403, 403, 200, 429, 429, 429}, "不明"},
    };
    for (const Scenario& scenario : scenarios) {
        notices.clear();
        const auto client = makeClient();
        for (std::size_t question = 0; question < scenario.statuses.size(); ++question) {
            const int status = scenario.statuses[question];
            const bool once = status == 200 || status == 404;
            replyAll(times(once ? 1 : 5, scripted(status == 0 ? 200 : status,
                                                  status == 200 ? answerBody : "<html></html>")));
            client->searchSongs(scenario.what, std::to_string(question), {});
            EXPECT_EQ(client->disabled(), question + 1 == scenario.statuses.size())
                << scenario.what << " " << question;
        }
        EXPECT_EQ(notices.back(), ITunesCatalog::disabledNotice(scenario.lastError));
    }
}

TEST_F(ITunesCatalogTest, WithoutTheServerTheThirdQuestionSwitchesOffButTheCacheStillServes) {
    std::string closedBase;
    {
        HttpServer gone;
        closedBase = gone.base();
    }
    testing::ScopedBase nowhere(closedBase);
    cache->put(ITunesURL::lookup(9), answer, std::chrono::system_clock::now());

    const auto client = makeClient();
    for (int question = 1; question <= 3; ++question) {
        EXPECT_FALSE(client->disabled());
        EXPECT_TRUE(client->searchAlbums("A", std::to_string(question), {}).empty());
    }
    EXPECT_EQ(waits, Waits(15, 5.0));
    EXPECT_TRUE(client->disabled());
    EXPECT_EQ(notices, std::vector{ITunesCatalog::disabledNotice("サーバーに接続できません")});

    EXPECT_TRUE(client->searchAlbums("A", "4", {}).empty());
    EXPECT_EQ(waits.size(), 15u) << "a switched-off client does not try";
    EXPECT_EQ(client->lookupTracks(9, {}), CatalogRecords{answer[0]});
}

TEST_F(ITunesCatalogTest, CancelledQuestionsNeverCountAsUnanswered) {
    server.setFallback({429, "", {}, {}});
    // Two questions fail; the third is stopped during its first or its last
    // wait (waits 11 and 15); the fourth fails again.
    for (const std::size_t stopAt : {11u, 15u}) {
        waits.clear();
        stopper = std::stop_source();
        stopAtWait = stopAt;
        const auto client = makeClient();
        client->searchSongs("A", "1", {});
        client->searchSongs("A", "2", {});
        EXPECT_TRUE(client->searchSongs("A", "3", stopper.get_token()).empty());
        EXPECT_EQ(waits.size(), stopAt);
        EXPECT_FALSE(client->disabled()) << stopAt;

        client->searchSongs("A", "4", {});
        EXPECT_TRUE(client->disabled()) << stopAt << ": nor did the stop reset the count";
    }
}

TEST_F(ITunesCatalogTest, CancellingAWaitingQuestionReturnsPromptly) {
    // On real time: waiting after a refusal, or for its turn after a request.
    for (const bool askedBefore : {false, true}) {
        HttpServer local;
        testing::ScopedBase here(local.base());
        local.reply(askedBefore ? 200 : 429, askedBefore ? answerBody : "");
        ITunesCatalog client(cache);
        client.setOnNotice([](const std::string&) {});
        if (askedBefore) client.searchSongs("A", "first", {});

        std::stop_source stop;
        auto question = std::async(std::launch::async, [&] {
            return client.searchAlbums("B", std::to_string(askedBefore), stop.get_token());
        });
        ASSERT_TRUE(local.waitForRequests(1, 10s)) << askedBefore;
        std::this_thread::sleep_for(100ms);  // into the wait
        const auto stopped = std::chrono::steady_clock::now();
        stop.request_stop();
        EXPECT_TRUE(question.get().empty()) << askedBefore;
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s) << askedBefore;
        EXPECT_EQ(local.requests().size(), 1u) << askedBefore;
        EXPECT_FALSE(client.disabled());
    }
}

}  // namespace
}  // namespace tarvik
