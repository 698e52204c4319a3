// Latencies counted in buckets.
#include "capture/Latency.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>

namespace {

// Values below 128 have a bucket each; above, 64 buckets per power of two.
std::size_t BucketOf(std::uint64_t v) {
    if (v < 128) return static_cast<std::size_t>(v);
    const int k = std::bit_width(v) - 1;  // 7..63
    const int shift = k - 6;
    return 128 + static_cast<std::size_t>(k - 7) * 64 + static_cast<std::size_t>((v >> shift) - 64);
}

std::uint64_t MiddleOf(std::size_t bucket) {
    if (bucket < 128) return bucket;
    const std::size_t k = (bucket - 128) / 64 + 7;
    const std::uint64_t m = (bucket - 128) % 64 + 64;
    const std::size_t shift = k - 6;
    return (m << shift) + ((std::uint64_t{1} << shift) >> 1);
}

}  // namespace

void LatencyHistogram::Add(std::int64_t microseconds) {
    const std::uint64_t v = microseconds < 0 ? 0 : static_cast<std::uint64_t>(microseconds);
    ++m_buckets[BucketOf(v)];
    ++m_count;
    m_max = std::max(m_max, static_cast<std::int64_t>(v));
}

void LatencyHistogram::Merge(const LatencyHistogram& other) {
    for (std::size_t i = 0; i < kBuckets; ++i) m_buckets[i] += other.m_buckets[i];
    m_count += other.m_count;
    m_max = std::max(m_max, other.m_max);
}

std::int64_t LatencyHistogram::Percentile(double q) const {
    if (m_count == 0) return 0;
    const auto rank = static_cast<std::uint64_t>(
        std::max(1.0, std::ceil(std::clamp(q, 0.0, 1.0) * static_cast<double>(m_count))));
    if (rank >= m_count) return m_max;
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < kBuckets; ++i) {
        seen += m_buckets[i];
        if (seen >= rank) return std::min(static_cast<std::int64_t>(MiddleOf(i)), m_max);
    }
    return m_max;
}

std::string MillisecondsText(std::int64_t microseconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%03lld", static_cast<long long>(microseconds / 1000),
                  static_cast<long long>(microseconds % 1000));
    return buf;
}
