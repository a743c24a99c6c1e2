// Writes pictures as a lossy animated WebP that loops forever, through
// libwebp's own animation encoder. The encoder stores each picture as the
// rectangle that changed and merges a picture that changes nothing into the
// one before, adding up their durations. One thread writes a file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>

struct WebPAnimEncoder;

namespace kavlo {

// What libwebp spends on compression: the file's size and the time it
// takes, never which pictures are written or when.
struct WebpSettings {
    float quality = 75; // libwebp's lossy quality, 0 to 100
    int method = 4;     // 0 (fastest) to 6 (smallest)
};

class WebpWriter {
  public:
    // Throws Error code 33 when no encoder can be made for the size (a
    // WebP holds at most 16383 pixels a side).
    // `transparent`: the pictures' alpha is kept; otherwise it is ignored.
    WebpWriter(int width, int height, const WebpSettings& settings = {}, bool transparent = false);
    ~WebpWriter();
    WebpWriter(const WebpWriter&) = delete;
    WebpWriter& operator=(const WebpWriter&) = delete;

    // Appends a picture of the writer's size, packed 32-bit BGRA rows
    // `stride` bytes apart, shown for `durationMs`
    // milliseconds (at least 1). Throws Error code 34 when it cannot be
    // encoded.
    void add(const uint8_t* bgra, int stride, int durationMs);
    // Assembles the file and writes it at `path`, replacing what is there.
    // Throws Error code 35 when it cannot be assembled or written, 32 when
    // the disk is full.
    void finish(const std::filesystem::path& path);

  private:
    struct EncoderDeleter {
        void operator()(WebPAnimEncoder* encoder) const noexcept;
    };

    int width_, height_;
    WebpSettings settings_;
    bool transparent_ = false;
    std::unique_ptr<WebPAnimEncoder, EncoderDeleter> encoder_;
    int timestampMs_ = 0;
    int pictures_ = 0;
};

} // namespace kavlo
