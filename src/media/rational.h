// Exact fractions for time bases and rates, and the conversions between
// times counted in different time bases.
#pragma once

#include <cstdint>

namespace kavlo {

struct Rational {
    int num = 0;
    int den = 1;
    double toDouble() const { return double(num) / den; }
};

// `value` counted in `from` counted in `to`, rounded to the nearest (halves
// away from zero).
int64_t rescale(int64_t value, Rational from, Rational to);
// -1, 0 or 1 as time a in aBase is before, at or after time b in bBase.
int compareTimes(int64_t a, Rational aBase, int64_t b, Rational bBase);
// The fraction nearest `value` whose numerator and denominator are at most
// `largest`.
Rational nearestRational(double value, int largest);

} // namespace kavlo
