// The music catalogue that asks the public catalogue service over HTTPS. It
// answers from its CatalogCache when it can (also once switched off), keeps
// its requests at least 3.2 s apart, tries a question up to five times with
// longer waits when the service refuses, and switches itself off for good
// after three questions in a row went unanswered; the user learns of waits
// and of the switch-off through Japanese notices handed to a handler.
// Any number of threads may ask at once and their questions overlap while
// they wait: the client's lock covers only its own counters, never a sleep, a
// request or the cache. It never throws: trouble gives the empty list.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "Core/Catalog/CatalogCache.hpp"
#include "Core/Catalog/MusicCatalog.hpp"
#include "Core/Platform/Sleep.hpp"

namespace tarvik {

class ITunesCatalog final : public MusicCatalog {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    // Sleeps for the duration; returns false when the stop token ended it early.
    using Sleeper = std::function<bool(std::chrono::nanoseconds, std::stop_token)>;
    // Called on the asking thread; must not block and must not throw.
    using NoticeHandler = std::function<void(const std::string&)>;

    static constexpr std::chrono::milliseconds minInterval{3200};
    static constexpr int attemptsPerQuestion = 5;
    static constexpr std::chrono::seconds requestTimeout{20};
    static constexpr std::string_view userAgent = "Tarvik/3.0";
    // After a refusal the wait is this times the attempt's number (from 1).
    static constexpr std::chrono::seconds refusalWait{30};
    static constexpr std::chrono::seconds pauseAfterError{5};
    static constexpr int failedQuestionsToDisable = 3;
    // A longer answer is no answer: a transport failure, never stored.
    static constexpr std::size_t answerLimit = 8 * 1024 * 1024;

    static constexpr std::string_view waitingNotice = "検索の回数制限に達したので少し待っています…";
    static constexpr std::string_view unreadableAnswer = "応答を読めません";
    // The switch-off notice, naming the last error of the question that caused it.
    static std::string disabledNotice(std::string_view errorText);

    // `cache` must not be null; the client shares it with whoever else holds it.
    explicit ITunesCatalog(std::shared_ptr<CatalogCache> cache,
                           Clock clock = &std::chrono::steady_clock::now,
                           Sleeper sleeper = &sleepFor);

    // Replaces any earlier handler; an empty one silences the notices.
    void setOnNotice(NoticeHandler handler);
    bool disabled() const;

    // Whether an answer fits the question; one that does not is neither
    // returned nor stored.
    using Fits = std::function<bool(const CatalogRecords&)>;

    // One question, given as its full request address.
    CatalogRecords fetch(const std::string& url, std::stop_token stop);
    CatalogRecords fetch(const std::string& url, const Fits& fits, std::stop_token stop);

    CatalogRecords searchAlbums(const std::string& artist, const std::string& album,
                                std::stop_token stop) override;
    // The cache keeps the service's whole answer; only the tracks come back.
    // An answer about another collection is no answer.
    CatalogRecords lookupTracks(std::int64_t collectionId, std::stop_token stop) override;
    CatalogRecords searchSongs(const std::string& artist, const std::string& title,
                               std::stop_token stop) override;

private:
    // Sleeps until minInterval has passed since the last request, then claims
    // the present as the time of the next one. False when stopped meanwhile.
    bool waitForTurn(std::stop_token stop);
    void notify(std::string_view notice);
    void countSuccess();
    void countFailure(const std::string& errorText);

    const std::shared_ptr<CatalogCache> cache_;
    const Clock clock_;
    const Sleeper sleeper_;

    // Guards last_, consecutiveFailures_, disabled_ and onNotice_; held only
    // to read or change them, never across a sleep, a request, the cache or
    // a call of the handler.
    mutable std::mutex mutex_;
    std::optional<std::chrono::steady_clock::time_point> last_;  // absent: nothing sent yet
    int consecutiveFailures_ = 0;
    bool disabled_ = false;
    NoticeHandler onNotice_;
};

}  // namespace tarvik
