#include "Core/Testing/HttpServer.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <string_view>
#include <system_error>

namespace tarvik::testing {
namespace {

const char* reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 429:
            return "Too Many Requests";
        case 500:
            return "Internal Server Error";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

// Waits for `fd` to become readable or the wake pipe to fire. Returns 1 when
// `fd` is readable, 0 on time-out and -1 when the server is stopping.
int waitReadable(int fd, int wake, int timeoutMs) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
    for (;;) {
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || fds[1].revents != 0) return -1;
        if (ready == 0) return 0;
        return 1;
    }
}

enum class Sent { all, clientGone, stopping };

// Sends all of `text` unless the client goes away (or stops reading for five
// seconds) or the server is being stopped.
Sent sendAll(int client, int wake, std::string_view text) {
    for (std::size_t sent = 0; sent < text.size();) {
        pollfd fds[2] = {{client, POLLOUT, 0}, {wake, POLLIN, 0}};
        const int ready = ::poll(fds, 2, 5000);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || fds[1].revents != 0) return Sent::stopping;
        if (ready == 0) return Sent::clientGone;
        const ssize_t wrote =
            ::send(client, text.data() + sent, text.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (wrote < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (wrote <= 0) return Sent::clientGone;
        sent += static_cast<std::size_t>(wrote);
    }
    return Sent::all;
}

HttpServer::Request parseHead(const std::string& head) {
    HttpServer::Request request;
    std::size_t lineEnd = head.find("\r\n");
    const std::string first = head.substr(0, lineEnd);
    const std::size_t space1 = first.find(' ');
    const std::size_t space2 = first.find(' ', space1 + 1);
    request.method = first.substr(0, space1);
    if (space1 != std::string::npos) {
        request.target = first.substr(space1 + 1, space2 - space1 - 1);
    }
    while (lineEnd != std::string::npos && lineEnd + 2 < head.size()) {
        const std::size_t start = lineEnd + 2;
        lineEnd = head.find("\r\n", start);
        const std::string line = head.substr(start, lineEnd - start);
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::size_t valueStart = colon + 1;
        while (valueStart < line.size() && line[valueStart] == ' ') ++valueStart;
        request.headers[name] = line.substr(valueStart);
    }
    return request;
}

}  // namespace

HttpServer::HttpServer() {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    wakeRead_ = pipeEnds[0];
    wakeWrite_ = pipeEnds[1];

    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        const int error = errno;
        ::close(wakeRead_);
        ::close(wakeWrite_);
        throw std::system_error(error, std::generic_category(), "socket");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const int error = errno;
        ::close(listener_);
        ::close(wakeRead_);
        ::close(wakeWrite_);
        throw std::system_error(error, std::generic_category(), "listen on 127.0.0.1");
    }
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

HttpServer::~HttpServer() {
    const char byte = 1;
    while (::write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {
    }
    thread_.join();
    ::close(listener_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

std::string HttpServer::base() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/";
}

void HttpServer::reply(Reply answer) {
    std::lock_guard lock(mutex_);
    script_.push_back(std::move(answer));
}

void HttpServer::route(std::string target, Reply answer) {
    std::lock_guard lock(mutex_);
    routes_[std::move(target)] = std::move(answer);
}

void HttpServer::reply(int status, std::string body) {
    reply(Reply{status, std::move(body), {}, {}});
}

void HttpServer::setFallback(Reply answer) {
    std::lock_guard lock(mutex_);
    fallback_ = std::move(answer);
}

std::vector<HttpServer::Request> HttpServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool HttpServer::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return requestArrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void HttpServer::serve() {
    for (;;) {
        if (waitReadable(listener_, wakeRead_, -1) < 0) return;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        const bool goOn = answer(client);
        ::close(client);
        if (!goOn) return;
    }
}

bool HttpServer::answer(int client) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
        const int ready = waitReadable(client, wakeRead_, 5000);
        if (ready < 0) return false;
        if (ready == 0) return true;  // a client that never finishes its request
        const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) return true;
        head.append(buffer, static_cast<std::size_t>(got));
    }

    Reply answer;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(parseHead(head));
        if (const auto routed = routes_.find(requests_.back().target); routed != routes_.end()) {
            answer = routed->second;
        } else if (script_.empty()) {
            answer = fallback_;
        } else {
            answer = std::move(script_.front());
            script_.pop_front();
        }
    }
    requestArrived_.notify_all();

    if (answer.delay.count() > 0) {
        // The request has no body, so anything readable now means the client
        // went away and nobody waits for the answer.
        const int ready = waitReadable(client, wakeRead_, static_cast<int>(answer.delay.count()));
        if (ready < 0) return false;
        if (ready > 0) return true;
    }

    std::string text =
        "HTTP/1.1 " + std::to_string(answer.status) + " " + reasonPhrase(answer.status) + "\r\n";
    text += "Content-Type: application/json\r\n";
    if (!answer.endless) text += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    text += "Connection: close\r\n";
    for (const auto& [name, value] : answer.headers) text += name + ": " + value + "\r\n";
    text += "\r\n";
    text += answer.body;
    Sent sent = sendAll(client, wakeRead_, text);
    while (sent == Sent::all && answer.endless && !answer.body.empty()) {
        sent = sendAll(client, wakeRead_, answer.body);
    }
    return sent != Sent::stopping;
}

}  // namespace tarvik::testing
