#include "Core/Platform/HttpClient.hpp"

#include <curl/curl.h>

#include <cctype>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <utility>

#include "Core/Platform/Errors.hpp"

namespace tarvik::HttpClient {
namespace {

// curl_global_init is not thread-safe itself; a function-local static runs it
// exactly once for the process, whichever thread asks first.
CURLcode initialiseLibrary() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    return result;
}

constexpr long maxRedirects = 10;

// Where the body goes, and whether it outgrew the caller's limit: an endless
// answer must end the transfer, not fill the memory.
struct BodySink {
    std::string* body;
    std::size_t limit;
    bool tooLarge = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    BodySink& sink = *static_cast<BodySink*>(target);
    const std::size_t length = size * count;
    if (length > sink.limit - sink.body->size()) {
        sink.tooLarge = true;
        return 0;  // libcurl ends the transfer with a write error
    }
    try {
        sink.body->append(data, length);
        return length;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

TransportError otherFailure(const char* description) {
    return TransportError(TransportError::Kind::other,
                          std::string("通信に失敗しました（") + description + "）");
}

TransportError failure(CURLcode code, bool tooLarge) {
    using Kind = TransportError::Kind;
    if (tooLarge || code == CURLE_FILESIZE_EXCEEDED) {
        return TransportError(Kind::tooLarge, "応答が大きすぎます");
    }
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return TransportError(Kind::timedOut, "時間内に応答がありません");
        case CURLE_COULDNT_CONNECT:
            return TransportError(Kind::noConnection, "サーバーに接続できません");
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return TransportError(Kind::hostNotFound, "サーバーが見つかりません");
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
            return TransportError(Kind::certificateRefused, "サーバーの証明書を確認できません");
        default:
            return otherFailure(curl_easy_strerror(code));
    }
}

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

struct Origin {
    std::string scheme;
    std::string host;
    std::string port;
};

std::optional<Origin> originOf(const std::string& address) {
    const std::unique_ptr<CURLU, UrlDeleter> url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, address.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    auto part = [&](CURLUPart which, unsigned int flags) -> std::optional<std::string> {
        char* text = nullptr;
        if (curl_url_get(url.get(), which, &text, flags) != CURLUE_OK) return std::nullopt;
        std::string copy(text);
        curl_free(text);
        for (char& c : copy) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return copy;
    };
    std::optional<std::string> scheme = part(CURLUPART_SCHEME, 0);
    std::optional<std::string> host = part(CURLUPART_HOST, 0);
    std::optional<std::string> port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    if (!scheme || !host || !port) return std::nullopt;
    return Origin{*scheme, *host, *port};
}

// A redirect is followed only where the request was going anyway: the same
// host and port, over HTTPS (or plain HTTP when the request began there).
// Anything else could hand the question, and the answer, to another party.
bool mayFollow(const std::string& from, const std::string& to) {
    const std::optional<Origin> source = originOf(from);
    const std::optional<Origin> target = originOf(to);
    if (!source || !target) return false;
    return target->host == source->host && target->port == source->port &&
           (target->scheme == "https" || target->scheme == source->scheme);
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

void configure(CURL* easy, const Request& request, const std::string& url, BodySink& sink) {
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, request.userAgent.c_str());
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    // Signals for name look-up time-outs do not mix with threads.
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects are judged here, one by one (mayFollow), not by libcurl.
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    if (request.bodyLimit < static_cast<std::size_t>(std::numeric_limits<curl_off_t>::max())) {
        // Refused at once when the answer announces its length.
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE,
                         static_cast<curl_off_t>(request.bodyLimit));
    }
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &appendBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &sink);
}

// One request, no redirect followed; `location` receives where a redirect
// points, empty when the answer is none.
Response getOnce(const Request& request, const std::string& url, std::string& location,
                 const std::stop_token& stop) {
    Response response;
    BodySink sink{&response.body, request.bodyLimit};
    const Easy easy(curl_easy_init());
    const Multi multi(curl_multi_init());
    if (!easy || !multi) throw failure(CURLE_FAILED_INIT, false);
    configure(easy.get(), request, url, sink);
    const Attachment attachment(multi.get(), easy.get());
    if (!attachment) throw failure(CURLE_FAILED_INIT, false);

    // A multi handle is driven here rather than curl_easy_perform because its
    // poll can be woken from another thread: a stop ends even a silent
    // connection at once instead of at libcurl's next progress call.
    CURLM* handle = multi.get();
    const std::stop_callback wake(stop, [handle] { curl_multi_wakeup(handle); });
    for (;;) {
        int running = 0;
        if (const CURLMcode code = curl_multi_perform(handle, &running); code != CURLM_OK) {
            throw otherFailure(curl_multi_strerror(code));
        }
        if (running == 0) break;
        if (stop.stop_requested()) throw Cancelled();
        if (const CURLMcode code = curl_multi_poll(handle, nullptr, 0, 1000, nullptr);
            code != CURLM_OK) {
            throw otherFailure(curl_multi_strerror(code));
        }
    }

    CURLcode result = CURLE_FAILED_INIT;
    int queued = 0;
    while (const CURLMsg* message = curl_multi_info_read(handle, &queued)) {
        if (message->msg == CURLMSG_DONE) result = message->data.result;
    }
    if (result != CURLE_OK) throw failure(result, sink.tooLarge);

    long status = 0;
    curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    response.status = static_cast<int>(status);
    const char* redirect = nullptr;
    curl_easy_getinfo(easy.get(), CURLINFO_REDIRECT_URL, &redirect);
    location = redirect != nullptr ? redirect : "";
    return response;
}

}  // namespace

Response get(const Request& request, std::stop_token stop) {
    if (stop.stop_requested()) throw Cancelled();
    if (const CURLcode init = initialiseLibrary(); init != CURLE_OK) throw failure(init, false);

    std::string url = request.url;
    for (long redirects = 0;; ++redirects) {
        std::string location;
        Response response = getOnce(request, url, location, stop);
        if (location.empty() || redirects == maxRedirects || !mayFollow(url, location)) {
            return response;
        }
        url = std::move(location);
    }
}

}  // namespace tarvik::HttpClient
