#include "job_guard.h"

namespace qx316::app {

JobGuard::Claim JobGuard::enter(int64_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto self = std::this_thread::get_id();
    auto it = active_.find(id);
    if (it != active_.end()) {
        if (it->second.owner != self)
            return Claim::Duplicate;
        ++it->second.depth;
        return Claim::Owner;
    }
    if (finished_.count(id))
        return Claim::Finished;
    Entry e;
    e.owner = self;
    e.depth = 1;
    active_.emplace(id, e);
    return Claim::Owner;
}

void JobGuard::leave(int64_t id, bool ok) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = active_.find(id);
    if (it == active_.end() || it->second.owner != std::this_thread::get_id())
        return;
    it->second.ok = it->second.ok && ok;
    if (--it->second.depth > 0)
        return;
    finished_[id] = it->second.ok;
    active_.erase(it);
    finishedOrder_.push_back(id);
    while (finishedOrder_.size() > finishedKept_) {
        finished_.erase(finishedOrder_.front());
        finishedOrder_.pop_front();
    }
}

bool JobGuard::finishedResult(int64_t id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = finished_.find(id);
    return it != finished_.end() && it->second;
}

size_t JobGuard::active() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return active_.size();
}

} // namespace qx316::app
