#include "Core/Pipeline/ArtworkCache.hpp"

#include <utility>

namespace tarvik {

ArtworkCache::ArtworkCache(ArtworkExtractor extractor, std::int64_t maxPx, bool enabled)
    : extractor_(std::move(extractor)), maxPx_(maxPx), enabled_(enabled) {}

std::optional<Bytes> ArtworkCache::artwork(const ConversionPlan::Item& item,
                                           const std::vector<ConversionPlan::Item>& source) {
    if (!enabled_) return std::nullopt;
    const std::int64_t key = item.albumIndex;

    std::promise<std::optional<Bytes>> promise;
    {
        std::unique_lock lock(mutex_);
        if (const auto cached = cache_.find(key); cached != cache_.end()) return cached->second;
        if (const auto running = inflight_.find(key); running != inflight_.end()) {
            std::shared_future<std::optional<Bytes>> answer = running->second;
            lock.unlock();
            return answer.get();
        }
        // Registered before the search starts, so that every later asker waits for it.
        inflight_.emplace(key, promise.get_future().share());
    }

    std::optional<Bytes> found;
    try {
        std::vector<std::filesystem::path> files;
        for (const ConversionPlan::Item& other : source) {
            if (other.albumIndex == key) files.push_back(other.source);
        }
        found = search(files);
    } catch (...) {
        // Out of memory while collecting: the album goes without a picture.
        found.reset();
    }
    {
        std::lock_guard lock(mutex_);
        cache_[key] = found;
        inflight_.erase(key);
    }
    promise.set_value(found);
    return found;
}

std::optional<Bytes> ArtworkCache::search(const std::vector<std::filesystem::path>& files) const {
    for (const std::filesystem::path& file : files) {
        const std::optional<Bytes> candidate = extractor_.extract(file, {});
        if (!candidate) continue;
        if (std::optional<Bytes> scaled = extractor_.scale(*candidate, maxPx_, {})) return scaled;
    }
    return std::nullopt;
}

}  // namespace tarvik
