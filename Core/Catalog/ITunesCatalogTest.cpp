#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Catalog/ITunesCatalog.hpp"
#include "Core/Catalog/ITunesURL.hpp"
#include "Core/Platform/HttpClient.hpp"
#include "Core/Testing/HttpServer.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::HttpServer;
using Seconds = std::chrono::duration<double>;

const std::string answerBody =
    R"({"resultCount": 2, "results": [{"wrapperType": "track", "trackName": "空", )"
    R"("collectionId": 7}, {"collectionName": "青"}]})";

CatalogRecords answerRecords() {
    CatalogRecord track;
    track.wrapperType = "track";
    track.trackName = "空";
    track.collectionId = 7;
    CatalogRecord album;
    album.collectionName = "青";
    return {track, album};
}

std::vector<std::string> repeated(std::string_view text, std::size_t times) {
    return std::vector<std::string>(times, std::string(text));
}

class ITunesCatalogTest : public ::testing::Test {
protected:
    // A client on fake time: every sleep is recorded and moves the clock on at
    // once; the sleep numbered `stopAtWait` (from 1) fires `stopper` instead.
    std::unique_ptr<ITunesCatalog> makeClient() {
        auto client = std::make_unique<ITunesCatalog>(
            cache, [this] { return now; },
            [this](std::chrono::nanoseconds wait, std::stop_token) {
                waits.push_back(Seconds(wait).count());
                now += wait;
                if (waits.size() == stopAtWait) {
                    stopper.request_stop();
                    return false;
                }
                return true;
            });
        client->setOnNotice([this](const std::string& notice) { notices.push_back(notice); });
        return client;
    }

    // A client on real time, as the application builds it.
    std::unique_ptr<ITunesCatalog> makeRealClient() {
        auto client = std::make_unique<ITunesCatalog>(cache);
        client->setOnNotice([](const std::string&) {});
        return client;
    }

    void replyTimes(int status, std::string_view body, std::size_t times) {
        for (std::size_t i = 0; i < times; ++i) server.reply(status, std::string(body));
    }

    testing::TempDir dir;
    HttpServer server;
    testing::ScopedBase base{server.base()};
    std::shared_ptr<CatalogCache> cache = std::make_shared<CatalogCache>(dir / "catalog.sqlite");

    std::chrono::steady_clock::time_point now{};
    std::vector<double> waits;  // seconds
    std::size_t stopAtWait = 0;
    std::stop_source stopper;
    std::vector<std::string> notices;
};

TEST_F(ITunesCatalogTest, RequestsCarryTheUserAgentAndTheExactAddressAndAreCached) {
    struct Case {
        const char* what;
        std::function<CatalogRecords(ITunesCatalog&)> ask;
        std::string url;
        CatalogRecords expected;
    };
    const std::vector<Case> cases = {
        {"albums", [](ITunesCatalog& c) { return c.searchAlbums("青い鳥 楽団", "空 (Live)", {}); },
         ITunesURL::albumSearch("青い鳥 楽団", "空 (Live)"), answerRecords()},
        {"tracks",
         [](ITunesCatalog& c) { return c.lookupTracks(-7, {}); },
         ITunesURL::lookup(-7),
         {answerRecords()[0]}},
        {"songs", [](ITunesCatalog& c) { return c.searchSongs("a+b&c", "d/e%", {}); },
         ITunesURL::songSearch("a+b&c", "d/e%"), answerRecords()},
    };
    const auto client = makeClient();
    for (const Case& c : cases) {
        server.reply(200, answerBody);
        const std::size_t before = server.requests().size();
        EXPECT_EQ(c.ask(*client), c.expected) << c.what;
        EXPECT_EQ(c.ask(*client), c.expected) << c.what << " from the cache";

        const std::vector<HttpServer::Request> requests = server.requests();
        ASSERT_EQ(requests.size(), before + 1) << c.what;
        EXPECT_EQ(server.base() + requests.back().target.substr(1), c.url) << c.what;
        EXPECT_EQ(requests.back().headers.at("user-agent"), "Tarvik/3.0") << c.what;
        EXPECT_EQ(cache->get(c.url), answerRecords()) << c.what << ": the whole answer is kept";
    }
}

TEST_F(ITunesCatalogTest, SpacesRequestsAtLeastTheMinimumIntervalApart) {
    replyTimes(200, answerBody, 3);
    const auto client = makeClient();
    client->searchSongs("A", "1", {});
    EXPECT_TRUE(waits.empty()) << "the first request goes out at once";
    now += 1s;
    client->searchSongs("A", "2", {});
    ASSERT_EQ(waits.size(), 1u);
    EXPECT_DOUBLE_EQ(waits[0], 2.2);
    now += 5s;
    client->searchSongs("A", "3", {});
    EXPECT_EQ(waits.size(), 1u);
    EXPECT_EQ(server.requests().size(), 3u);
}

TEST_F(ITunesCatalogTest, RefusalsWaitLongerEachAttemptAndTellTheUser) {
    for (const int status : {429, 403, 503}) {
        waits.clear();
        notices.clear();
        replyTimes(status, "slow down", 5);
        const auto client = makeClient();
        EXPECT_TRUE(client->searchSongs("A", std::to_string(status), {}).empty());
        EXPECT_EQ(waits, (std::vector<double>{30, 60, 90, 120, 150})) << status;
        EXPECT_EQ(notices, repeated(ITunesCatalog::waitingNotice, 5)) << status;
        EXPECT_FALSE(cache->get(ITunesURL::songSearch("A", std::to_string(status)))) << status;
    }
}

TEST_F(ITunesCatalogTest, OtherStatusesEndTheQuestionAtOnceAndStoreNothing) {
    const auto client = makeClient();
    for (const int status : {404, 500, 400}) {
        server.reply(status, answerBody);
        const std::size_t before = server.requests().size();
        EXPECT_TRUE(client->searchSongs("A", std::to_string(status), {}).empty());
        EXPECT_EQ(server.requests().size(), before + 1) << status;
        EXPECT_FALSE(cache->get(ITunesURL::songSearch("A", std::to_string(status)))) << status;
    }
    EXPECT_EQ(waits, (std::vector<double>{3.2, 3.2})) << "only the spacing";
    EXPECT_TRUE(notices.empty());
}

TEST_F(ITunesCatalogTest, UnreadableAnswerIsRetriedAndNeverStored) {
    const auto client = makeClient();
    server.reply(200, "<html>Please sign in</html>");
    server.reply(200, answerBody);
    EXPECT_EQ(client->searchSongs("A", "B", {}), answerRecords());
    EXPECT_EQ(waits, (std::vector<double>{5}));

    for (const char* body : {"", "{}", R"({"results": null})",
                             R"({"results": [{"trackNumber": "5"}]})", "<html></html>"}) {
        server.reply(200, body);
    }
    EXPECT_TRUE(client->searchSongs("A", "C", {}).empty());
    EXPECT_FALSE(cache->get(ITunesURL::songSearch("A", "C")));
    EXPECT_EQ(server.requests().size(), 7u);
}

// An endless answer once took the program to 3 GB in seconds, and a huge one
// became one row of the cache.
TEST_F(ITunesCatalogTest, OversizedAndEndlessAnswersAreTransportFailuresNeverStored) {
    const std::string huge =
        R"({"results": [)" + std::string(ITunesCatalog::answerLimit, ' ') + "]}";
    server.reply(200, huge);
    for (int i = 0; i < 4; ++i) server.reply({200, answerBody, {}, {}, true});
    const auto client = makeClient();
    EXPECT_TRUE(client->searchSongs("A", "B", {}).empty());
    EXPECT_EQ(server.requests().size(), 5u);
    EXPECT_EQ(waits, std::vector<double>(5, 5.0)) << "each answer counts as no answer";
    EXPECT_FALSE(cache->get(ITunesURL::songSearch("A", "B")));
    EXPECT_EQ(cache->count(), 0);
}

// Each step is one question and the replies it gets; the client is switched
// off after the third question in a row that used up its attempts.
TEST_F(ITunesCatalogTest, ThreeUnansweredQuestionsInARowSwitchTheClientOff) {
    struct Step {
        int status;
        std::size_t replies;
        bool disabledAfter;
    };
    struct Scenario {
        const char* what;
        std::vector<Step> steps;
        std::string lastError;
    };
    const std::vector<Scenario> scenarios = {
        {"another status leaves the count; unreadable answers raise it",
         {{429, 5, false}, {404, 1, false}, {503, 5, false}, {0, 5, true}},
         "応答を読めません"},
        {"an answer resets the count",
         {{403, 5, false},
          {403, 5, false},
          {200, 1, false},
          {429, 5, false},
          {429, 5, false},
          {429, 5, true}},
         "不明"},
    };
    for (const Scenario& scenario : scenarios) {
        notices.clear();
        const auto client = makeClient();
        int question = 0;
        for (const Step& step : scenario.steps) {
            // Status 0 stands for a 200 whose body is not the envelope.
            replyTimes(step.status == 0 ? 200 : step.status,
                       step.status == 200 ? answerBody : "<html></html>", step.replies);
            client->searchSongs(scenario.what, std::to_string(++question), {});
            EXPECT_EQ(client->disabled(), step.disabledAfter)
                << scenario.what << ", question " << question;
        }
        EXPECT_EQ(notices.back(), ITunesCatalog::disabledNotice(scenario.lastError))
            << scenario.what;
    }
}

TEST_F(ITunesCatalogTest, WithoutTheServerTheThirdQuestionSwitchesOffButTheCacheStillServes) {
    std::string closedBase;
    {
        HttpServer gone;
        closedBase = gone.base();
    }
    testing::ScopedBase nowhere(closedBase);
    std::string refused;
    try {
        HttpClient::get({closedBase, "x", 20s}, {});
    } catch (const HttpClient::TransportError& error) {
        refused = error.what();
    }
    EXPECT_EQ(refused, "サーバーに接続できません");
    cache->put(ITunesURL::lookup(9), answerRecords(), std::chrono::system_clock::now());

    const auto client = makeClient();
    for (int question = 1; question <= 3; ++question) {
        EXPECT_FALSE(client->disabled());
        EXPECT_TRUE(client->searchAlbums("A", std::to_string(question), {}).empty());
    }
    EXPECT_EQ(waits, std::vector<double>(15, 5.0));
    EXPECT_TRUE(client->disabled());
    EXPECT_EQ(notices, std::vector{ITunesCatalog::disabledNotice(refused)});

    EXPECT_TRUE(client->searchAlbums("A", "4", {}).empty());
    EXPECT_EQ(waits.size(), 15u) << "a switched-off client does not try";
    EXPECT_EQ(client->lookupTracks(9, {}), (CatalogRecords{answerRecords()[0]}));
}

TEST_F(ITunesCatalogTest, CancelledQuestionsNeverCountAsUnanswered) {
    server.setFallback({429, "", {}, {}});
    // Two questions fail; the third is stopped during its first or its last
    // wait (waits 11 and 15); the fourth fails again.
    for (const std::size_t stopAt : {11u, 15u}) {
        waits.clear();
        notices.clear();
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

TEST_F(ITunesCatalogTest, CancellingAWaitingOrInFlightQuestionReturnsPromptly) {
    struct Case {
        const char* what;
        std::vector<HttpServer::Reply> replies;
        bool askedBefore;  // a request just went out, so the question waits for its turn
        std::size_t requestsBeforeStop;
    };
    const std::vector<Case> cases = {
        {"waiting after a refusal", {{429, "", {}, {}}}, false, 1},
        {"waiting for its turn", {{200, answerBody, {}, {}}}, true, 1},
    };
    for (const Case& c : cases) {
        HttpServer local;
        testing::ScopedBase here(local.base());
        for (const HttpServer::Reply& reply : c.replies) local.reply(reply);
        const auto client = makeRealClient();
        if (c.askedBefore) client->searchSongs("A", c.what, {});

        std::stop_source stop;
        auto question = std::async(std::launch::async, [&] {
            return client->searchAlbums("B", c.what, stop.get_token());
        });
        ASSERT_TRUE(local.waitForRequests(c.requestsBeforeStop, 10s)) << c.what;
        std::this_thread::sleep_for(100ms);  // into the answer's delay or the wait
        const auto stopped = std::chrono::steady_clock::now();
        stop.request_stop();
        EXPECT_TRUE(question.get().empty()) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s) << c.what;
        EXPECT_EQ(local.requests().size(), c.requestsBeforeStop) << c.what;
        EXPECT_FALSE(client->disabled());
    }
}

}  // namespace
}  // namespace tarvik
