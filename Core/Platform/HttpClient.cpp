#include "Core/Platform/HttpClient.hpp"

#include <curl/curl.h>

#include <memory>
#include <new>

#include "Core/Platform/Errors.hpp"

namespace tarvik::HttpClient {
namespace {

// curl_global_init is not thread-safe itself; a function-local static runs it
// exactly once for the process, whichever thread asks first.
CURLcode initialiseLibrary() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    return result;
}

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    try {
        static_cast<std::string*>(target)->append(data, size * count);
        return size * count;
    } catch (const std::bad_alloc&) {
        return 0;  // libcurl ends the transfer with a write error
    }
}

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;
using Multi = std::unique_ptr<CURLM, MultiDeleter>;

// Keeps the easy handle inside the multi handle for the life of one transfer;
// the handle must leave the multi handle before either is cleaned up.
class Attachment {
public:
    Attachment(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
        added_ = curl_multi_add_handle(multi, easy) == CURLM_OK;
    }
    ~Attachment() {
        if (added_) curl_multi_remove_handle(multi_, easy_);
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    explicit operator bool() const { return added_; }

private:
    CURLM* multi_;
    CURL* easy_;
    bool added_ = false;
};

void configure(CURL* easy, const Request& request, std::string& body) {
    curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, request.userAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    // Signals for name look-up time-outs do not mix with threads.
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
}

}  // namespace

Response get(const Request& request, std::stop_token stop) {
    if (stop.stop_requested()) throw Cancelled();
    if (const CURLcode init = initialiseLibrary(); init != CURLE_OK) {
        throw TransportError(curl_easy_strerror(init));
    }

    Response response;
    const Easy easy(curl_easy_init());
    const Multi multi(curl_multi_init());
    if (!easy || !multi) throw TransportError(curl_easy_strerror(CURLE_FAILED_INIT));
    configure(easy.get(), request, response.body);
    const Attachment attachment(multi.get(), easy.get());
    if (!attachment) throw TransportError(curl_easy_strerror(CURLE_FAILED_INIT));

    // A multi handle is driven here rather than curl_easy_perform because its
    // poll can be woken from another thread: a stop ends even a silent
    // connection at once instead of at libcurl's next progress call.
    CURLM* handle = multi.get();
    const std::stop_callback wake(stop, [handle] { curl_multi_wakeup(handle); });
    for (;;) {
        int running = 0;
        if (const CURLMcode code = curl_multi_perform(handle, &running); code != CURLM_OK) {
            throw TransportError(curl_multi_strerror(code));
        }
        if (running == 0) break;
        if (stop.stop_requested()) throw Cancelled();
        if (const CURLMcode code = curl_multi_poll(handle, nullptr, 0, 1000, nullptr);
            code != CURLM_OK) {
            throw TransportError(curl_multi_strerror(code));
        }
    }

    CURLcode result = CURLE_FAILED_INIT;
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(handle, &queued)) {
        if (message->msg == CURLMSG_DONE) result = message->data.result;
    }
    if (result != CURLE_OK) throw TransportError(curl_easy_strerror(result));

    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<int>(status);
    return response;
}

}  // namespace tarvik::HttpClient
