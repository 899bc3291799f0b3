// GET requests over HTTP and HTTPS through libcurl: one fresh handle, and so
// one fresh connection, per request; certificates and host names verified; a
// time-out for the whole transfer; redirects followed within http and https.
// Calls share nothing, so any thread may call at any time. A transfer that
// fails throws HttpClient::TransportError with libcurl's short description;
// a stop token that fires ends the transfer at once and throws Cancelled.
#pragma once

#include <chrono>
#include <stdexcept>
#include <stop_token>
#include <string>

namespace tarvik::HttpClient {

struct Request {
    std::string url;
    std::string userAgent;
    std::chrono::milliseconds timeout{20000};  // the whole transfer, connecting included
};

struct Response {
    int status = 0;
    std::string body;

    bool operator==(const Response&) const = default;
};

// No answer came: no connection, a time-out, a certificate that does not
// verify, a broken transfer. what() is the transport's own description.
class TransportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Any status is an answer, not an error. Throws Cancelled without sending
// anything when `stop` had fired already.
Response get(const Request& request, std::stop_token stop);

}  // namespace tarvik::HttpClient
