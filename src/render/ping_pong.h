// The ping-pong index sequence: which of the segment's n frames are shown, in
// which order. One cycle runs forward from frame t to n-2-t and back from
// n-1-t to t+1, so cycles join without showing a turn-around frame twice;
// t = 0, 1 or 2 frames at each edge of the segment are never shown
// (n < 5, n < 8, otherwise). The cycle repeats max(loops, 1) times.
#pragma once

#include <cstddef>
#include <vector>

namespace kavlo {

std::vector<int> pingPongIndexSequence(int frameCount, int loops);

// Length of the shortest prefix that the whole sequence repeats; the sequence
// length itself when it does not repeat.
std::size_t repeatingPeriod(const std::vector<int>& sequence);

} // namespace kavlo
