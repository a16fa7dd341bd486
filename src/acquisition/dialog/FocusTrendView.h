// The last readings of the focus star's half-flux diameter as a line, oldest on the left, with
// the best (smallest) one marked and the current and best readings written out, so the user
// sees which way the focuser should turn.
#pragma once

#include <QWidget>

#include <cstddef>
#include <deque>
#include <optional>

namespace lumenvale {

class FocusTrendView : public QWidget {
public:
    static constexpr std::size_t Length = 60;

    explicit FocusTrendView(QWidget* parent);

    void add(double hfd);
    void clear();
    const std::deque<double>& readings() const { return readings_; }
    // Index of the smallest reading.
    std::optional<std::size_t> best() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::deque<double> readings_;
};

} // namespace lumenvale
