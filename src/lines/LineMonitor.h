// Every line state written to the camera port, with its tick, for whoever listens in-process:
// the simulated camera reads its exposure from it and the tests check line histories with it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace lumenvale {

struct LineWrite {
    std::int32_t tick = 0;
    std::uint8_t state = 0;
    // The same moment in CLOCK_MONOTONIC microseconds: a webcam frame is matched to the readout
    // write by the driver's timestamps, which are finer than the millisecond tick.
    std::int64_t monotonicUs = 0;
    // False for a write an adapter did not send because its outputs already showed the state
    // (two states the mapping carries alike): the camera saw nothing at that moment.
    bool moved = true;
    // How long the adapter's call took, in ticks: a USB adapter's write returns a round trip
    // after it was sent, and `tick` minus this is the tick it was sent at.
    std::int32_t sendingMs = 0;
};

class LineMonitor {
public:
    using Listener = std::function<void(const LineWrite&)>;

    // Returns an id for unsubscribe().
    int subscribe(Listener listener);
    void unsubscribe(int id);

    void publish(const LineWrite& write);

    // The most recent writes, oldest first (bounded, so hours of capture stay frugal).
    std::vector<LineWrite> history() const { return {history_.begin(), history_.end()}; }
    std::vector<std::uint8_t> states() const;
    void clearHistory() { history_.clear(); }
    // The latest of the last `within` writes that moved an output, if any did.
    std::optional<LineWrite> lastMoved(std::size_t within) const;

    static constexpr std::size_t HistoryLimit = 4096;

private:
    std::deque<LineWrite> history_;
    std::map<int, Listener> listeners_;
    int nextId_ = 1;
};

} // namespace lumenvale
