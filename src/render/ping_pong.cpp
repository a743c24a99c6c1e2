#include "render/ping_pong.h"

#include <algorithm>

namespace kavlo {

namespace {

int edgeTrim(int n) {
    return n < 5 ? 0 : n < 8 ? 1 : 2;
}

} // namespace

std::vector<int> pingPongIndexSequence(int n, int loops) {
    if (n < 2)
        return {};
    const int t = edgeTrim(n);
    std::vector<int> cycle;
    cycle.reserve(2 * (n - 1 - 2 * t));
    for (int i = t; i < n - 1 - t; ++i)
        cycle.push_back(i);
    for (int i = n - 1 - t; i >= t + 1; --i)
        cycle.push_back(i);

    std::vector<int> sequence;
    sequence.reserve(cycle.size() * std::max(loops, 1));
    for (int loop = 0; loop < std::max(loops, 1); ++loop)
        sequence.insert(sequence.end(), cycle.begin(), cycle.end());
    return sequence;
}

bool neverShown(int index, int atLeast, int atMost) {
    for (int n = std::max({atLeast, index + 1, 2}); n <= atMost; ++n) {
        const int t = edgeTrim(n);
        if (index >= t && index <= n - 1 - t)
            return false;
    }
    return true;
}

std::size_t repeatingPeriod(const std::vector<int>& sequence) {
    const std::size_t n = sequence.size();
    for (std::size_t p = 1; p < n; ++p) {
        if (n % p)
            continue;
        if (std::equal(sequence.begin() + p, sequence.end(), sequence.begin()))
            return p;
    }
    return n;
}

} // namespace kavlo
