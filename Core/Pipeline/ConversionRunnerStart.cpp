#include <utility>

#include "Core/Pipeline/ConversionRunner.hpp"

namespace tarvik {

ConversionRunner::Handle ConversionRunner::start(std::optional<ConversionPlan> plan,
                                                 ConvertTrack convert) const {
    std::shared_ptr<Events> channel = Events::make();
    Events::Reader events = channel->reader();
    // The run's thread holds its own copies of the runner, the plan and the
    // channel, so it never depends on the caller or the handle.
    std::shared_ptr<DetachedTask> task =
        DetachedTask::start([runner = *this, channel, plan = std::move(plan),
                             convert = std::move(convert)](std::stop_token stop) mutable {
            runner.runBody(*channel, std::move(plan), std::move(convert), std::move(stop));
        });
    // Nobody left to read: the run is not worth finishing. After a normal end
    // the handler still runs once, and the cancel then changes nothing.
    channel->onTermination([task] { task->cancel(); });
    return Handle{std::move(events), std::move(task)};
}

ConversionRunner::Events::Reader ConversionRunner::run() const {
    return start(std::nullopt).events;
}

}  // namespace tarvik
