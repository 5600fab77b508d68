#pragma once

#include <QElapsedTimer>

#include <algorithm>
#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace fennimar::bench {

// The order statistics of a benchmark's timings. Not empty.
class Samples {
public:
    explicit Samples(std::vector<double> values) : m_values(std::move(values))
    {
        std::sort(m_values.begin(), m_values.end());
    }
    // The q-quantile (0 <= q <= 1), the nearest rank below.
    double at(double q) const
    {
        return m_values[static_cast<std::size_t>(q * static_cast<double>(m_values.size() - 1))];
    }
    double min() const { return m_values.front(); }
    double max() const { return m_values.back(); }

private:
    std::vector<double> m_values;
};

// `rounds` timings of `batch` calls each, in nanoseconds per call.
inline Samples timePerCall(int rounds, int batch, const std::function<void()> &call)
{
    std::vector<double> perCall;
    perCall.reserve(static_cast<std::size_t>(rounds));
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < batch; ++i)
            call();
        perCall.push_back(static_cast<double>(t.nsecsElapsed()) / batch);
    }
    return Samples(std::move(perCall));
}

}  // namespace fennimar::bench
