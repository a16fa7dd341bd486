// The in-process line monitor.
#include "lines/LineMonitor.h"

namespace lumenvale {

int LineMonitor::subscribe(Listener listener) {
    const int id = nextId_++;
    listeners_.emplace(id, std::move(listener));
    return id;
}

void LineMonitor::unsubscribe(int id) {
    listeners_.erase(id);
}

void LineMonitor::publish(const LineWrite& write) {
    history_.push_back(write);
    if (history_.size() > HistoryLimit) {
        history_.pop_front();
    }
    // A listener may unsubscribe itself while being called, so walk a copy.
    const auto listeners = listeners_;
    for (const auto& [id, listener] : listeners) {
        listener(write);
    }
}

std::optional<LineWrite> LineMonitor::lastMoved(std::size_t within) const {
    std::size_t seen = 0;
    for (auto it = history_.rbegin(); it != history_.rend() && seen < within; ++it, ++seen) {
        if (it->moved) {
            return *it;
        }
    }
    return std::nullopt;
}

std::vector<std::uint8_t> LineMonitor::states() const {
    std::vector<std::uint8_t> out;
    out.reserve(history_.size());
    for (const auto& w : history_) {
        out.push_back(w.state);
    }
    return out;
}

} // namespace lumenvale
