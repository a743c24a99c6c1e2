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

// True when picture `index` of a segment is shown by no sequence of a
// segment of n pictures, for every n from max(atLeast, index + 1) to atMost:
// a picture that can go before the segment's length is known. At most 30
// pictures, 0 goes once 5 are read, 1 once 8 are, 28 and 29 at once.
bool neverShown(int index, int atLeast, int atMost);

// Length of the shortest prefix that the whole sequence repeats; the sequence
// length itself when it does not repeat.
std::size_t repeatingPeriod(const std::vector<int>& sequence);

} // namespace kavlo
