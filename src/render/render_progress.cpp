#include "render/render_progress.h"

#include <algorithm>

namespace kavlo {

void OverlapProgress::writing(double fraction) {
    const double read = std::min(double(feed_.readCount()) / double(feed_.expected()), 1.0);
    report(shares_.read * read + (shares_.picture - shares_.read) * fraction);
}

void OverlapProgress::report(double p) {
    if (progress_ && p > last_) {
        last_ = p;
        progress_(p);
    }
}

} // namespace kavlo
