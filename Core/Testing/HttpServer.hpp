// A scripted HTTP/1.1 server on 127.0.0.1 for tests of code that talks to a
// web service. It listens on a free port, records every request it reads, and
// answers each connection with the next scripted reply, after that reply's
// delay, then closes the connection. One thread of its own serves one
// connection at a time; the destructor stops it, also in the middle of a
// delay. Setting up the socket throws std::system_error.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tarvik::testing {

class HttpServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
        std::chrono::milliseconds delay{0};  // before the answer is written
        std::vector<std::pair<std::string, std::string>> headers;
        // Without a length: the body is sent again and again until the client
        // goes away or the server stops.
        bool endless = false;
    };

    struct Request {
        std::string method;
        std::string target;                          // as on the request line: "/search?term=a"
        std::map<std::string, std::string> headers;  // names in lower case
    };

    HttpServer();
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    std::uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>/"
    std::string base() const;

    // Replies are used in the order given; once none is left, every request
    // gets the fallback (500 with an empty body unless replaced).
    void reply(Reply answer);
    void reply(int status, std::string body = {});
    void setFallback(Reply answer);
    // Every request for exactly `target` ("/lookup?id=7&…") gets `answer`,
    // however often and in whatever order it comes; other requests go on
    // taking the scripted replies. A stand-in for a service that answers by
    // address.
    void route(std::string target, Reply answer);

    std::vector<Request> requests() const;
    // True once at least `count` requests were read, false after `timeout`.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;

private:
    void serve();
    // False when the server is being stopped.
    bool answer(int client);

    int listener_ = -1;
    int wakeRead_ = -1;  // readable once the destructor wants the thread to end
    int wakeWrite_ = -1;
    std::uint16_t port_ = 0;

    mutable std::mutex mutex_;  // guards script_, routes_, fallback_ and requests_
    mutable std::condition_variable requestArrived_;
    std::deque<Reply> script_;
    std::map<std::string, Reply> routes_;
    Reply fallback_{500, {}, {}, {}};
    std::vector<Request> requests_;

    std::thread thread_;
};

}  // namespace tarvik::testing
