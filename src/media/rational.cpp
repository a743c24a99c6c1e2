#include "media/rational.h"

extern "C" {
#include <libavutil/mathematics.h>
}

namespace kavlo {

namespace {
AVRational toAv(Rational r) {
    return {r.num, r.den};
}
} // namespace

int64_t rescale(int64_t value, Rational from, Rational to) {
    return av_rescale_q(value, toAv(from), toAv(to));
}

int compareTimes(int64_t a, Rational aBase, int64_t b, Rational bBase) {
    return av_compare_ts(a, toAv(aBase), b, toAv(bBase));
}

Rational nearestRational(double value, int largest) {
    const AVRational r = av_d2q(value, largest);
    return {r.num, r.den};
}

} // namespace kavlo
