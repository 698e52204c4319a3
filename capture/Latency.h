// Latencies counted in buckets of about 1.5 % width: percentiles over any number of samples in
// a fixed amount of memory.
#pragma once

#include <array>
#include <cstdint>
#include <string>

class LatencyHistogram {
public:
    void Add(std::int64_t microseconds);
    void Merge(const LatencyHistogram& other);
    [[nodiscard]] std::uint64_t Count() const { return m_count; }
    /// The latency below which the fraction q (0..1) of the samples lie, in microseconds: the
    /// middle of its bucket, never above the largest sample. 0 when there is none.
    [[nodiscard]] std::int64_t Percentile(double q) const;
    [[nodiscard]] std::int64_t Max() const { return m_max; }

    static constexpr std::size_t kBuckets = 128 + 57 * 64;

private:
    std::array<std::uint64_t, kBuckets> m_buckets{};
    std::uint64_t m_count = 0;
    std::int64_t m_max = 0;
};

/// Milliseconds with three decimals ("12.345") from microseconds.
[[nodiscard]] std::string MillisecondsText(std::int64_t microseconds);
