#include "Core/Catalog/ITunesCatalog.hpp"

#include <exception>
#include <utility>

#include "Core/Catalog/ITunesURL.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/HttpClient.hpp"

namespace tarvik {
namespace {

// Statuses by which the service says that too many requests arrive.
bool isRefusal(int status) {
    return status == 403 || status == 429 || status == 503;
}

std::optional<CatalogRecords> decodeAnswer(const std::string& body) {
    try {
        return Envelope::decode(body).results;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

std::string ITunesCatalog::disabledNotice(std::string_view errorText) {
    std::string notice = "曲名の検索ができないので、今回は元の曲名のまま変換します（";
    notice += errorText;
    notice += "）";
    return notice;
}

ITunesCatalog::ITunesCatalog(std::shared_ptr<CatalogCache> cache, Clock clock, Sleeper sleeper)
    : cache_(std::move(cache)), clock_(std::move(clock)), sleeper_(std::move(sleeper)) {}

void ITunesCatalog::setOnNotice(NoticeHandler handler) {
    std::lock_guard lock(mutex_);
    onNotice_ = std::move(handler);
}

bool ITunesCatalog::disabled() const {
    std::lock_guard lock(mutex_);
    return disabled_;
}

CatalogRecords ITunesCatalog::fetch(const std::string& url, std::stop_token stop) {
    return fetch(url, Fits(), std::move(stop));
}

CatalogRecords ITunesCatalog::fetch(const std::string& url, const Fits& fits,
                                    std::stop_token stop) {
    // The cache comes before the switch-off: known answers stay available.
    // One stored before answers were checked is asked again.
    if (std::optional<CatalogRecords> cached = cache_->get(url, stop);
        cached && (!fits || fits(*cached)))
        return std::move(*cached);
    if (disabled()) return {};

    std::string errorText = "不明";
    const HttpClient::Request request{url, std::string(userAgent), requestTimeout, answerLimit};
    // A stop ends the question at once wherever it waits, and a cancelled
    // question never counts as unanswered: the service did nothing wrong.
    for (int attempt = 1; attempt <= attemptsPerQuestion; ++attempt) {
        if (stop.stop_requested() || !waitForTurn(stop)) return {};

        HttpClient::Response response;
        try {
            response = HttpClient::get(request, stop);
        } catch (const Cancelled&) {
            return {};
        } catch (const HttpClient::TransportError& error) {
            errorText = error.what();
            if (!sleeper_(pauseAfterError, stop)) return {};
            continue;
        }

        if (isRefusal(response.status)) {
            notify(waitingNotice);
            if (!sleeper_(refusalWait * attempt, stop)) return {};
            continue;
        }
        if (response.status != 200) return {};

        // A body that is not the service's envelope (a proxy's or a captive
        // portal's page) is no answer: storing it would silence the question
        // for the cache's whole life.
        std::optional<CatalogRecords> records = decodeAnswer(response.body);
        if (!records) {
            errorText = unreadableAnswer;
            if (!sleeper_(pauseAfterError, stop)) return {};
            continue;
        }
        countSuccess();
        // The service answered, but not this question: nothing to keep, and
        // asking again would only bring the same.
        if (fits && !fits(*records)) return {};
        cache_->put(url, *records, std::chrono::system_clock::now(), stop);
        return std::move(*records);
    }
    if (stop.stop_requested()) return {};
    countFailure(errorText);
    return {};
}

CatalogRecords ITunesCatalog::searchAlbums(const std::string& artist, const std::string& album,
                                           std::stop_token stop) {
    return fetch(ITunesURL::albumSearch(artist, album), std::move(stop));
}

CatalogRecords ITunesCatalog::lookupTracks(std::int64_t collectionId, std::stop_token stop) {
    const auto aboutIt = [collectionId](const CatalogRecords& records) {
        return CatalogJson::answersFor(records, collectionId);
    };
    return CatalogJson::onlyTracks(
        fetch(ITunesURL::lookup(collectionId), aboutIt, std::move(stop)));
}

CatalogRecords ITunesCatalog::searchSongs(const std::string& artist, const std::string& title,
                                          std::stop_token stop) {
    return fetch(ITunesURL::songSearch(artist, title), std::move(stop));
}

bool ITunesCatalog::waitForTurn(std::stop_token stop) {
    std::chrono::nanoseconds wait{0};
    {
        std::lock_guard lock(mutex_);
        if (last_) wait = minInterval - (clock_() - *last_);
    }
    // Questions waiting at the same time may each see the same last request
    // and go out close together; callers that ask one after the other are
    // spaced fully.
    if (wait > std::chrono::nanoseconds::zero() && !sleeper_(wait, stop)) return false;
    std::lock_guard lock(mutex_);
    last_ = clock_();
    return true;
}

void ITunesCatalog::notify(std::string_view notice) {
    NoticeHandler handler;
    {
        std::lock_guard lock(mutex_);
        handler = onNotice_;
    }
    if (handler) handler(std::string(notice));
}

void ITunesCatalog::countSuccess() {
    std::lock_guard lock(mutex_);
    consecutiveFailures_ = 0;
}

void ITunesCatalog::countFailure(const std::string& errorText) {
    NoticeHandler handler;
    {
        std::lock_guard lock(mutex_);
        ++consecutiveFailures_;
        // Questions that were under way when another one switched the client
        // off still count, but the user hears of the switch-off once.
        if (consecutiveFailures_ < failedQuestionsToDisable || disabled_) return;
        disabled_ = true;
        handler = onNotice_;
    }
    if (handler) handler(disabledNotice(errorText));
}

}  // namespace tarvik
