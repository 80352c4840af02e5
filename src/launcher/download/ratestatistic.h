#pragma once

#include <QtGlobal>

#include <limits>

namespace mirrel::launcher {

// Running minimum, maximum and mean of a rate sampled once per progress tick (bytes per tick).
class TRateStatistic {
public:
    void add(quint64 Sample);
    // Forgets the samples; the next sample starts the statistic afresh.
    void resetCount() { m_Count = 0; }
    // Keeps the long-run figure from going stale: the current mean becomes the only sample.
    void restartFromMean();

    quint64 count() const { return m_Count; }
    quint64 minimum() const { return m_Minimum; }
    quint64 maximum() const { return m_Maximum; }
    double mean() const { return m_Mean; }

private:
    quint64 m_Count = 0;
    quint64 m_Minimum = std::numeric_limits<quint64>::max();
    quint64 m_Maximum = 0;
    double m_Mean = 0.0;
};

} // namespace mirrel::launcher
