#pragma once
// Hands work from threads that may outlive their owner to one object on the
// GUI thread, for as long as that object lives: a worker held by a file
// system that stops answering is left behind when its owner goes, and must
// then post nothing. The owner opens the outlet on the receiver and closes it
// before the receiver goes; whatever is still on its way then is dropped with
// the receiver's events, and later posts do nothing. Copies share one outlet.
// `post` may be called from any thread and never waits on more than the lock.
#include <QMetaObject>
#include <QObject>
#include <functional>
#include <memory>
#include <mutex>

namespace tarvik {

class GuiOutlet {
public:
    explicit GuiOutlet(QObject* receiver = nullptr) : shared_(std::make_shared<Shared>()) {
        shared_->receiver = receiver;
    }

    // Receiver's thread: from now on posts reach `receiver` (null: nobody).
    void open(QObject* receiver) const {
        std::lock_guard lock(shared_->mutex);
        shared_->receiver = receiver;
    }
    // Receiver's thread, before the receiver goes.
    void close() const { open(nullptr); }

    // Runs `step` on the receiver's thread, unless the outlet is closed by then.
    void post(std::function<void()> step) const {
        std::lock_guard lock(shared_->mutex);
        // Under the lock, so that the receiver is not deleted meanwhile; a
        // queued call dies with its receiver.
        if (shared_->receiver != nullptr)
            QMetaObject::invokeMethod(shared_->receiver, std::move(step), Qt::QueuedConnection);
    }

private:
    struct Shared {
        std::mutex mutex;  // guards receiver
        QObject* receiver = nullptr;
    };
    std::shared_ptr<Shared> shared_;
};

}  // namespace tarvik
