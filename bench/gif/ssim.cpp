#include "ssim.h"

#include <stdexcept>
#include <vector>

namespace kavlo::bench {

namespace {

struct BlockSums {
    double a = 0, b = 0, aa = 0, bb = 0, ab = 0;
    BlockSums& operator+=(const BlockSums& o) {
        a += o.a, b += o.b, aa += o.aa, bb += o.bb, ab += o.ab;
        return *this;
    }
};

double planeSsim(const test::RgbPicture& x, const test::RgbPicture& y, int channel) {
    const int bw = x.width / 4, bh = x.height / 4;
    std::vector<BlockSums> blocks(std::size_t(bw) * bh);
    for (int by = 0; by < bh; ++by) {
        for (int bx = 0; bx < bw; ++bx) {
            BlockSums s;
            for (int j = 0; j < 4; ++j) {
                for (int i = 0; i < 4; ++i) {
                    const double p = x.at(bx * 4 + i, by * 4 + j)[channel];
                    const double q = y.at(bx * 4 + i, by * 4 + j)[channel];
                    s.a += p, s.b += q, s.aa += p * p, s.bb += q * q, s.ab += p * q;
                }
            }
            blocks[std::size_t(by) * bw + bx] = s;
        }
    }
    constexpr double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    constexpr double n = 64;
    double total = 0;
    long windows = 0;
    for (int by = 0; by + 1 < bh; ++by) {
        for (int bx = 0; bx + 1 < bw; ++bx) {
            BlockSums s = blocks[std::size_t(by) * bw + bx];
            s += blocks[std::size_t(by) * bw + bx + 1];
            s += blocks[std::size_t(by + 1) * bw + bx];
            s += blocks[std::size_t(by + 1) * bw + bx + 1];
            const double ma = s.a / n, mb = s.b / n;
            const double va = s.aa / n - ma * ma, vb = s.bb / n - mb * mb;
            const double cov = s.ab / n - ma * mb;
            total +=
                ((2 * ma * mb + c1) * (2 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            ++windows;
        }
    }
    return windows ? total / double(windows) : 1.0;
}

} // namespace

double ssim(const test::RgbPicture& a, const test::RgbPicture& b) {
    if (a.width != b.width || a.height != b.height)
        throw std::runtime_error("ssim: pictures differ in size");
    return (planeSsim(a, b, 0) + planeSsim(a, b, 1) + planeSsim(a, b, 2)) / 3;
}

} // namespace kavlo::bench
