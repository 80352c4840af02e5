#include "launcher/download/ratestatistic.h"

#include <algorithm>
#include <cmath>

namespace mirrel::launcher {

void TRateStatistic::add(quint64 Sample) {
    if (m_Count == 0) {
        m_Mean = static_cast<double>(Sample);
        m_Minimum = Sample;
        m_Maximum = Sample;
        m_Count = 1;
        return;
    }
    const double count = static_cast<double>(m_Count);
    m_Mean = (count * m_Mean + static_cast<double>(Sample)) / (count + 1.0);
    m_Minimum = std::min(m_Minimum, Sample);
    m_Maximum = std::max(m_Maximum, Sample);
    ++m_Count;
}

void TRateStatistic::restartFromMean() {
    const double mean = m_Mean;
    m_Count = 0;
    add(static_cast<quint64>(std::llround(std::max(mean, 0.0))));
    m_Mean = mean;
}

} // namespace mirrel::launcher
