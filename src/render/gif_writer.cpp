#include "render/gif_writer.h"

#include "media/error.h"
#include "media/file_util.h"
#include "render/render_types.h"

#include <gif_lib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <new>

namespace kavlo {

namespace {

struct ColourMapDeleter {
    void operator()(ColorMapObject* map) const noexcept { GifFreeMapObject(map); }
};
using ColourMapPtr = std::unique_ptr<ColorMapObject, ColourMapDeleter>;

// A canvas value no palette colour has, so the first frame differs everywhere.
constexpr uint32_t kNothingShown = 0xff000000;

// Squared RGB distance of two canvas values; huge against kNothingShown.
int distance(uint32_t a, uint32_t b) {
    if ((a | b) & kNothingShown)
        return a == b ? 0 : 1 << 30;
    const int dr = int(a >> 16) - int(b >> 16);
    const int dg = int((a >> 8) & 0xff) - int((b >> 8) & 0xff);
    const int db = int(a & 0xff) - int(b & 0xff);
    return dr * dr + dg * dg + db * db;
}

[[noreturn]] void throwCreateFailed() {
    throw kavloError(kGifCreateFailed, "Could not create GIF file");
}
[[noreturn]] void throwFrameFailed() {
    throw kavloError(kGifFrameFailed, "Could not render GIF frame");
}

// The palette and, after it, one spare slot for transparency, padded to the
// power-of-two size the format needs. The spare slot's index is
// palette.size().
ColourMapPtr makeColourMap(const GifPalette& palette) {
    int size = 2;
    while (size < int(palette.size()) + 1)
        size *= 2;
    ColourMapPtr map(GifMakeMapObject(size, nullptr));
    if (!map)
        throw std::bad_alloc();
    for (int i = 0; i < size; ++i) {
        const GifColour c = i < int(palette.size()) ? palette[i] : GifColour{};
        map->Colors[i] = {c.r, c.g, c.b};
    }
    return map;
}

} // namespace

int GifWriter::writeToFile(GifFileType* gif, const GifByteType* data, int length) {
    auto* writer = static_cast<GifWriter*>(gif->UserData);
    const std::size_t written = std::fwrite(data, 1, length, writer->file_.get());
    writer->bytesWritten_ += written;
    if (written != std::size_t(length) && writer->writeError_ == 0)
        writer->writeError_ = errno;
    return static_cast<int>(written);
}

// Write failures (a full disk, a vanished volume) end the file unfinished;
// a full disk says so.
void GifWriter::throwFinishFailed() const {
    if (isOutOfSpace(writeError_))
        throwOutOfSpace();
    throw kavloError(kGifFinishFailed, "Could not finish GIF file");
}

void GifWriter::GifCloser::operator()(GifFileType* gif) const noexcept {
    int error = 0;
    EGifCloseFile(gif, &error);
}

GifWriter::GifWriter(const std::filesystem::path& path, int width, int height, int keepDistance)
    : GifWriter(path, width, height, keepDistance, {width, height}, 0, 0) {}

GifWriter::GifWriter(const std::filesystem::path& path, int width, int height, int keepDistance,
                     RenderSize canvas, int left, int top)
    : width_(width), height_(height), keepDistance_(std::max(keepDistance, 0)), canvasSize_(canvas),
      left_(left), top_(top) {
    if (width < 1 || height < 1 || canvas.width > 0xffff || canvas.height > 0xffff || left < 0 ||
        top < 0 || left + width > canvas.width || top + height > canvas.height)
        throwCreateFailed();
    file_.reset(std::fopen(path.c_str(), "wb"));
    if (!file_)
        throwCreateFailed();
    std::setvbuf(file_.get(), nullptr, _IOFBF, 1 << 16);
    int error = 0;
    gif_.reset(EGifOpen(this, writeToFile, &error));
    if (!gif_)
        throwCreateFailed();
    EGifSetGifVersion(gif_.get(), true);
    canvas_.assign(std::size_t(width) * height, kNothingShown);
}

GifWriter::~GifWriter() = default;

void GifWriter::writeHeader(const GifPalette& palette) {
    const ColourMapPtr map = makeColourMap(palette);
    // NETSCAPE2.0 application extension, loop count 0: repeat forever.
    static const GifByteType kLoopForever[3] = {1, 0, 0};
    if (EGifPutScreenDesc(gif_.get(), canvasSize_.width, canvasSize_.height, 8, 0, map.get()) !=
            GIF_OK ||
        EGifPutExtensionLeader(gif_.get(), APPLICATION_EXT_FUNC_CODE) != GIF_OK ||
        EGifPutExtensionBlock(gif_.get(), 11, "NETSCAPE2.0") != GIF_OK ||
        EGifPutExtensionBlock(gif_.get(), 3, kLoopForever) != GIF_OK ||
        EGifPutExtensionTrailer(gif_.get()) != GIF_OK)
        throwFinishFailed();
    globalPalette_ = palette;
}

void GifWriter::add(const IndexedFrame& frame, int delay, const PixelMask* unchanged) {
    if (!gif_ || frame.width != width_ || frame.height != height_ ||
        frame.pixels.size() != canvas_.size() || frame.palette.empty() ||
        frame.palette.size() > 255 ||
        (unchanged && unchanged->size() != (canvas_.size() + 63) / 64))
        throwFrameFailed();
    if (!started_)
        writeHeader(frame.palette);
    started_ = true;
    writeImage(frame, std::clamp(delay, 0, 0xffff), unchanged);
}

void GifWriter::writeImage(const IndexedFrame& frame, int delay, const PixelMask* unchanged) {
    std::array<uint32_t, 256> colours{};
    for (std::size_t i = 0; i < frame.palette.size(); ++i) {
        const GifColour c = frame.palette[i];
        colours[i] = uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
    }
    const auto transparent = static_cast<uint8_t>(frame.palette.size());

    // Whether the pixel's new colour is close enough to what is shown.
    const int keep = keepDistance_;
    auto stays = [&](std::size_t pixel) {
        const uint32_t colour = colours[frame.pixels[pixel]], shown = canvas_[pixel];
        if (unchanged && !(shown & kNothingShown) && maskHas(*unchanged, pixel))
            return true;
        return colour == shown || (keep > 0 && distance(colour, shown) <= keep);
    };

    // The rectangle that holds every pixel changing on screen.
    int left = width_, top = height_, right = -1, bottom = -1;
    for (int y = 0; y < height_; ++y) {
        const std::size_t row = std::size_t(y) * width_;
        int x = 0;
        while (x < width_ && stays(row + x))
            ++x;
        if (x == width_)
            continue;
        int last = width_ - 1;
        while (stays(row + last))
            --last;
        left = std::min(left, x);
        right = std::max(right, last);
        top = std::min(top, y);
        bottom = y;
    }
    if (right < 0) {
        // Nothing changes, but the picture's time on screen must be kept.
        left = top = right = bottom = 0;
    }

    const int rectWidth = right - left + 1, rectHeight = bottom - top + 1;
    rect_.resize(std::size_t(rectWidth) * rectHeight);
    bool anyTransparent = false;
    for (int y = 0; y < rectHeight; ++y) {
        const std::size_t offset = std::size_t(top + y) * width_ + left;
        const uint8_t* row = frame.pixels.data() + offset;
        uint32_t* shown = canvas_.data() + offset;
        uint8_t* out = rect_.data() + std::size_t(y) * rectWidth;
        for (int x = 0; x < rectWidth; ++x) {
            if (stays(offset + x)) {
                out[x] = transparent;
                anyTransparent = true;
            } else {
                out[x] = row[x];
                shown[x] = colours[row[x]];
            }
        }
    }

    GraphicsControlBlock control{};
    control.DisposalMode = DISPOSE_DO_NOT;
    control.UserInputFlag = false;
    control.DelayTime = delay;
    control.TransparentColor = anyTransparent ? transparent : NO_TRANSPARENT_COLOR;
    GifByteType extension[4];
    const std::size_t extensionSize = EGifGCBToExtension(&control, extension);

    ColourMapPtr localMap;
    if (frame.palette != globalPalette_)
        localMap = makeColourMap(frame.palette);
    if (EGifPutExtension(gif_.get(), GRAPHICS_EXT_FUNC_CODE, int(extensionSize), extension) !=
            GIF_OK ||
        EGifPutImageDesc(gif_.get(), left_ + left, top_ + top, rectWidth, rectHeight, false,
                         localMap.get()) != GIF_OK)
        throwFinishFailed();
    for (int y = 0; y < rectHeight; ++y) {
        if (EGifPutLine(gif_.get(), rect_.data() + std::size_t(y) * rectWidth, rectWidth) != GIF_OK)
            throwFinishFailed();
    }
}

void GifWriter::finish() {
    if (!gif_)
        throwFinishFailed();
    if (!started_)
        throwFrameFailed();
    int error = 0;
    const bool closed = EGifCloseFile(gif_.release(), &error) == GIF_OK;
    const bool flushed = std::fflush(file_.get()) == 0 && !std::ferror(file_.get());
    if (!flushed && writeError_ == 0)
        writeError_ = errno;
    const bool fileClosed = std::fclose(file_.release()) == 0;
    if (!fileClosed && writeError_ == 0)
        writeError_ = errno;
    if (!closed || !flushed || !fileClosed)
        throwFinishFailed();
}

} // namespace kavlo
