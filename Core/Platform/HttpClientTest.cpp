#include <gtest/gtest.h>
#include <stdio.h>

#include <future>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/HttpClient.hpp"
#include "Core/Testing/HttpServer.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Thrown.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using testing::HttpServer;

HttpClient::Request requestFor(std::string url, std::chrono::milliseconds timeout = 20s) {
    return HttpClient::Request{std::move(url), "Tester/1.0", timeout};
}

// What a failed request threw.
std::string transportError(const HttpClient::Request& request) {
    return testing::thrown<HttpClient::TransportError>([&] { HttpClient::get(request, {}); });
}

// Every status is an answer with its body. A redirect is followed only where
// the request was going anyway; any other is the answer itself, and the other
// party hears nothing.
TEST(HttpClient, EveryStatusIsAnAnswerAndRedirectsStayOnTheHostAndPort) {
    HttpServer server;
    HttpServer other;
    other.setFallback({200, "elsewhere", {}, {}});
    const std::string port = std::to_string(server.port());
    const std::vector<std::pair<std::string, HttpClient::Response>> cases = {
        {"", {503, "busy"}},  // no redirect
        {"/moved", {200, "here"}},
        {"http://127.0.0.1:" + port + "/moved", {200, "here"}},
        {"http://localhost:" + port + "/moved", {302, ""}},  // another host name
        {other.base() + "moved", {302, ""}},                 // another port
    };
    for (const auto& [location, expected] : cases) {
        if (!location.empty()) server.reply({302, "", {}, {{"Location", location}}});
        if (location.empty() || expected.status == 200)
            server.reply(expected.status, expected.body);
        EXPECT_EQ(HttpClient::get(requestFor(server.base() + "s?term=a%2Bb"), {}), expected)
            << location;
    }
    ASSERT_EQ(server.requests().size(), 7u);
    // The query goes as it was escaped, with the program's own name.
    EXPECT_EQ(server.requests()[0].target, "/s?term=a%2Bb");
    EXPECT_EQ(server.requests()[0].headers.at("user-agent"), "Tester/1.0");
    EXPECT_EQ(server.requests()[2].target, "/moved");
    EXPECT_TRUE(other.requests().empty());
}

// An answer over the limit, announced or endless (which once grew the program
// by gigabytes in seconds), is a failure like no answer at all.
TEST(HttpClient, FailuresThrowAJapaneseDescription) {
    std::string closedBase;
    {
        HttpServer gone;
        closedBase = gone.base();
    }
    HttpServer slow;
    slow.reply({200, "late", 5s, {}});
    HttpServer large;
    large.reply(200, std::string(1000, 'x'));
    large.reply(200, std::string(1001, 'x'));
    large.reply({200, std::string(4096, 'x'), {}, {}, true});
    HttpClient::Request limited = requestFor(large.base());
    limited.bodyLimit = 1000;
    EXPECT_EQ(HttpClient::get(limited, {}).body, std::string(1000, 'x'));
    const std::pair<HttpClient::Request, const char*> cases[] = {
        {requestFor(closedBase), "サーバーに接続できません"},
        {requestFor(slow.base(), 200ms), "時間内に応答がありません"},
        {requestFor("file:///etc/hostname"), "通信に失敗しました（Unsupported protocol）"},
        {limited, "応答が大きすぎます"},
        {limited, "応答が大きすぎます"},
    };
    for (const auto& [request, description] : cases) {
        EXPECT_EQ(transportError(request), description) << request.url;
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
    if (const std::string missing = testing::missingProgram({"openssl", "timeout"});
        !missing.empty())
        GTEST_SKIP() << missing;
    testing::TempDir dir;
    // A self-signed TLS server for one connection; it prints "ACCEPT host:port" once it listens.
    const std::string command =
        "cd " + testing::shellQuote(dir.path().string()) +
        " && openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
        " -keyout key.pem -out cert.pem 2>/dev/null && exec timeout 30 openssl s_server"
        " -naccept 1 -www -accept 127.0.0.1:0 -cert cert.pem -key key.pem 2>/dev/null";
    const std::unique_ptr<FILE, int (*)(FILE*)> server(::popen(command.c_str(), "r"), &::pclose);
    std::string port;
    char line[256];
    while (server && port.empty() && std::fgets(line, sizeof line, server.get()) != nullptr) {
        const std::string text(line);
        if (text.starts_with("ACCEPT 127.0.0.1:")) port = text.substr(17, text.find('\n') - 17);
    }
    ASSERT_FALSE(port.empty()) << "openssl s_server did not start";
    EXPECT_EQ(transportError(requestFor("https://127.0.0.1:" + port + "/")),
              "サーバーの証明書を確認できません");
}

}  // namespace
}  // namespace tarvik
