#include "App/Model/EventPump.hpp"

#include <QMetaObject>
#include <utility>

namespace tarvik {

using Item = std::variant<ConversionEvent, std::function<void()>>;

struct EventPump::Pass::Shared : std::enable_shared_from_this<Shared> {
    // Guards receiver, pass, queue and posted: workers add, the GUI thread takes.
    std::mutex mutex;
    QObject* receiver = nullptr;  // null once the pump has closed
    std::uint64_t pass = 0;
    std::deque<Item> queue;
    bool posted = false;  // a drain is on its way to the GUI thread

    // GUI thread only.
    Handler handler;
    std::deque<Item> batch;  // taken from `queue`, not yet handled

    void add(std::uint64_t from, Item item) {
        std::lock_guard lock(mutex);
        if (receiver == nullptr || from != pass) return;
        queue.push_back(std::move(item));
        postLocked();
    }

    void postLocked() {
        if (posted) return;
        posted = true;
        QMetaObject::invokeMethod(
            receiver, [self = shared_from_this()] { self->drain(); }, Qt::QueuedConnection);
    }

    bool open(std::uint64_t number) {
        std::lock_guard lock(mutex);
        return receiver != nullptr && pass == number;
    }

    void drain() {
        const auto deadline = std::chrono::steady_clock::now() + slice;
        std::uint64_t number = 0;
        {
            std::lock_guard lock(mutex);
            posted = false;
            if (receiver == nullptr) return;
            number = pass;
            if (batch.empty()) {
                batch.swap(queue);
            } else {
                for (Item& item : queue) batch.push_back(std::move(item));
                queue.clear();
            }
        }
        while (!batch.empty()) {
            Item item = std::move(batch.front());
            batch.pop_front();
            if (const auto* event = std::get_if<ConversionEvent>(&item)) {
                handler(*event);
            } else {
                std::get<std::function<void()>>(item)();
            }
            // A step may begin a new pass or the handler may end this one:
            // what is left of this batch then belongs to nobody.
            if (!open(number)) return;
            if (!batch.empty() && std::chrono::steady_clock::now() >= deadline) {
                std::lock_guard lock(mutex);
                postLocked();
                return;
            }
        }
    }
};

void EventPump::Pass::send(ConversionEvent event) const {
    if (shared_) shared_->add(number_, std::move(event));
}

void EventPump::Pass::then(std::function<void()> step) const {
    if (shared_) shared_->add(number_, std::move(step));
}

EventPump::EventPump(QObject* receiver, Handler handler)
    : shared_(std::make_shared<Pass::Shared>()) {
    shared_->receiver = receiver;
    shared_->handler = std::move(handler);
}

EventPump::~EventPump() {
    {
        std::lock_guard lock(shared_->mutex);
        shared_->receiver = nullptr;
        shared_->queue.clear();
    }
    shared_->batch.clear();
    for (const auto& worker : workers_) worker->cancel();
    for (const auto& worker : workers_) worker->wait();
}

EventPump::Pass EventPump::beginPass() {
    Pass pass;
    pass.shared_ = shared_;
    {
        std::lock_guard lock(shared_->mutex);
        pass.number_ = ++shared_->pass;
        shared_->queue.clear();
    }
    shared_->batch.clear();
    workers_.clear();
    return pass;
}

EventPump::Pass EventPump::currentPass() const {
    Pass pass;
    pass.shared_ = shared_;
    std::lock_guard lock(shared_->mutex);
    pass.number_ = shared_->pass;
    return pass;
}

void EventPump::keep(std::shared_ptr<DetachedTask> worker) {
    workers_.push_back(std::move(worker));
}

}  // namespace tarvik
