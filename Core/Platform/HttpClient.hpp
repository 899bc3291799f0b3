// GET requests over HTTP and HTTPS through libcurl: one fresh handle, and so
// one fresh connection, per request; certificates and host names verified; a
// time-out for the whole transfer; an answer no longer than the caller allows;
// redirects followed only to the same host and port, never away from HTTPS.
// Calls share nothing, so any thread may call at any time. A transfer that
// fails throws HttpClient::TransportError with a Japanese description; a stop
// token that fires ends the transfer at once and throws Cancelled.
#pragma once

#include <chrono>
#include <cstddef>
#include <limits>
#include <stdexcept>
#include <stop_token>
#include <string>

namespace tarvik::HttpClient {

struct Request {
    std::string url;
    std::string userAgent;
    std::chrono::milliseconds timeout{20000};  // the whole transfer, connecting included
    // The longest body taken; a longer answer is a TransportError, however it ends.
    std::size_t bodyLimit = std::numeric_limits<std::size_t>::max();
};

struct Response {
    int status = 0;
    std::string body;

    bool operator==(const Response&) const = default;
};

// No answer came: no connection, a time-out, a certificate that does not
// verify, an answer over the limit, a broken transfer. what() is the text the
// user sees: Japanese, with libcurl's own words only for uncommon failures.
class TransportError : public std::runtime_error {
public:
    enum class Kind { timedOut, noConnection, hostNotFound, certificateRefused, tooLarge, other };

    TransportError(Kind kind, const std::string& description)
        : std::runtime_error(description), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// Any status is an answer, not an error; so is a redirect that is not
// followed. Throws Cancelled without sending anything when `stop` had fired.
Response get(const Request& request, std::stop_token stop);

}  // namespace tarvik::HttpClient
