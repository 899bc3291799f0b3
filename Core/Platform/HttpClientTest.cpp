#include <gtest/gtest.h>
#include <stdio.h>

#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/HttpClient.hpp"
#include "Core/Testing/HttpServer.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::HttpServer;

HttpClient::Request requestFor(std::string url, std::chrono::milliseconds timeout = 20s) {
    return HttpClient::Request{std::move(url), "Tester/1.0", timeout};
}

// What a failed request threw, or nothing when it did not throw TransportError.
std::optional<std::string> transportError(const HttpClient::Request& request) {
    try {
        HttpClient::get(request, {});
    } catch (const HttpClient::TransportError& error) {
        return error.what();
    }
    return std::nullopt;
}

TEST(HttpClient, EveryStatusIsAnAnswerWithItsBody) {
    HttpServer server;
    const std::vector<HttpServer::Reply> replies = {
        {200, R"({"results": []})", {}, {}},
        {404, "", {}, {}},
        {503, "busy", {}, {}},
    };
    for (const HttpServer::Reply& reply : replies) server.reply(reply);
    for (std::size_t i = 0; i < replies.size(); ++i) {
        const std::string target = "search?term=a%2Bb&n=" + std::to_string(i);
        EXPECT_EQ(HttpClient::get(requestFor(server.base() + target), {}),
                  (HttpClient::Response{replies[i].status, replies[i].body}));
        const HttpServer::Request seen = server.requests().at(i);
        EXPECT_EQ(seen.method, "GET");
        EXPECT_EQ(seen.target, "/" + target);
        EXPECT_EQ(seen.headers.at("user-agent"), "Tester/1.0");
    }
}

// Followed only where the request was going anyway; any other redirect is
// the answer itself, and the other party hears nothing.
TEST(HttpClient, RedirectsAreFollowedOnlyToTheSameHostAndPort) {
    HttpServer server;
    HttpServer other;
    other.setFallback({200, "elsewhere", {}, {}});
    const std::string port = std::to_string(server.port());
    struct Case {
        std::string location;
        HttpClient::Response expected;
    };
    const std::vector<Case> cases = {
        {"/moved", {200, "here"}},
        {"http://127.0.0.1:" + port + "/moved", {200, "here"}},
        {"http://localhost:" + port + "/moved", {302, ""}},  // another host name
        {other.base() + "moved", {302, ""}},                 // another port
    };
    for (const Case& c : cases) {
        server.reply({302, "", {}, {{"Location", c.location}}});
        if (c.expected.status == 200) server.reply(200, "here");
        EXPECT_EQ(HttpClient::get(requestFor(server.base() + "old"), {}), c.expected) << c.location;
    }
    EXPECT_EQ(server.requests().size(), 6u);
    EXPECT_EQ(server.requests()[1].target, "/moved");
    EXPECT_TRUE(other.requests().empty());
}

// An endless answer once grew the program by gigabytes in seconds.
TEST(HttpClient, AnAnswerOverTheLimitIsATransportFailure) {
    HttpServer server;
    server.reply(200, std::string(1000, 'x'));
    server.reply(200, std::string(1001, 'x'));
    server.reply({200, std::string(4096, 'x'), {}, {}, true});
    HttpClient::Request request = requestFor(server.base());
    request.bodyLimit = 1000;
    EXPECT_EQ(HttpClient::get(request, {}).body, std::string(1000, 'x'));
    for (const char* what : {"announced", "endless"}) {
        try {
            HttpClient::get(request, {});
            ADD_FAILURE() << what << ": no error";
        } catch (const HttpClient::TransportError& error) {
            EXPECT_EQ(error.kind(), HttpClient::TransportError::Kind::tooLarge) << what;
            EXPECT_STREQ(error.what(), "応答が大きすぎます") << what;
        }
    }
}

TEST(HttpClient, NoAnswerThrowsAJapaneseDescription) {
    std::string closedBase;
    {
        HttpServer gone;
        closedBase = gone.base();
    }
    HttpServer slow;
    slow.reply({200, "late", 5s, {}});

    struct Case {
        const char* what;
        HttpClient::Request request;
        const char* description;
    };
    const Case cases[] = {
        {"closed port", requestFor(closedBase), "サーバーに接続できません"},
        {"time-out", requestFor(slow.base(), 200ms), "時間内に応答がありません"},
        {"other scheme", requestFor("file:///etc/hostname"),
         "通信に失敗しました（Unsupported protocol）"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(transportError(c.request), c.description) << c.what;
    }
}

TEST(HttpClient, StopEndsARequestInFlightAtOnce) {
    HttpServer server;
    server.reply({200, "never", 60s, {}});
    std::stop_source stop;
    auto call = std::async(std::launch::async, [&] {
        return HttpClient::get(requestFor(server.base()), stop.get_token());
    });
    ASSERT_TRUE(server.waitForRequests(1, 10s));
    const auto stopped = std::chrono::steady_clock::now();
    stop.request_stop();
    EXPECT_THROW(call.get(), Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, 1s);

    // Already stopped: nothing is sent.
    EXPECT_THROW(HttpClient::get(requestFor(server.base()), stop.get_token()), Cancelled);
    EXPECT_EQ(server.requests().size(), 1u);
}

TEST(HttpClient, RefusesACertificateItCannotVerify) {
    testing::TempDir dir;
    const std::string key = (dir / "key.pem").string();
    const std::string certificate = (dir / "cert.pem").string();
    const auto made = testing::runCommand({"sh", "-c",
                                           "openssl req -x509 -newkey rsa:2048 -nodes -days 1 "
                                           "-subj /CN=127.0.0.1 -keyout " +
                                               testing::shellQuote(key) + " -out " +
                                               testing::shellQuote(certificate) + " 2>/dev/null"});
    if (made.exitCode != 0) GTEST_SKIP() << "openssl cannot make a certificate here";

    // A self-signed TLS server for one connection; it prints "ACCEPT host:port"
    // once it listens.
    const std::string command =
        "exec timeout 30 openssl s_server -naccept 1 -www "
        "-accept 127.0.0.1:0 -cert " +
        testing::shellQuote(certificate) + " -key " + testing::shellQuote(key) + " 2>/dev/null";
    const std::unique_ptr<FILE, int (*)(FILE*)> server(::popen(command.c_str(), "r"), &::pclose);
    ASSERT_NE(server, nullptr);
    std::string port;
    char line[256];
    while (port.empty() && std::fgets(line, sizeof line, server.get()) != nullptr) {
        const std::string text(line);
        if (text.starts_with("ACCEPT 127.0.0.1:")) port = text.substr(17, text.find('\n') - 17);
    }
    ASSERT_FALSE(port.empty()) << "the TLS server did not start";

    EXPECT_EQ(transportError(requestFor("https://127.0.0.1:" + port + "/")),
              "サーバーの証明書を確認できません");
}

}  // namespace
}  // namespace tarvik
