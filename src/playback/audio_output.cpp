#include "playback/audio_output.h"

#include "playback/audio_queue.h"
#include "playback/media_clock.h"
#include "playback/pcm_aligner.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <QMetaObject>
#include <QTimer>

#include <vector>

namespace kavlo {

namespace {

constexpr int kBytesPerFrame = kOutputChannels * sizeof(int16_t);
// What the device is asked to hold: enough to ride out a busy moment of the
// audio thread, little enough that pausing and seeking stay quick.
constexpr int kDeviceBufferMs = 100;
// When the decoder falls behind, silence keeps at least this much queued so
// the device never stops; the lost time is made up by dropping late samples.
constexpr int kLowWaterMs = 30;
constexpr int kTickMs = 5;
// When the device is heard this far behind the picture (it started late or
// stalled: a sink waking up, a headset connecting), the sound skips ahead to
// the picture rather than pulling the picture back.
constexpr int64_t kMaxLagUs = 40'000;

QAudioFormat outputFormat() {
    QAudioFormat format;
    format.setSampleRate(kOutputRate);
    format.setChannelCount(kOutputChannels);
    format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

int64_t bytesToUs(qint64 bytes) {
    return bytes / kBytesPerFrame * 1'000'000 / kOutputRate;
}

} // namespace

class AudioOutput::Feeder : public QObject {
  public:
    Feeder(AudioOutput& owner, const QAudioDevice& device) : owner_(owner), device_(device) {}

    // On the audio thread, once.
    void init() {
        sink_ = std::make_unique<QAudioSink>(device_, outputFormat());
        sink_->setBufferSize(kOutputRate * kBytesPerFrame * kDeviceBufferMs / 1000);
        timer_ = new QTimer(this);
        timer_->setTimerType(Qt::PreciseTimer);
        timer_->setInterval(kTickMs);
        connect(timer_, &QTimer::timeout, this, [this] { tick(); });
    }

    void start(std::shared_ptr<AudioQueue> queue, std::shared_ptr<MediaClock> clock,
               uint64_t serial, int64_t startUs) {
        closeDevice();
        queue_ = std::move(queue);
        clock_ = std::move(clock);
        aligner_.restart(serial, startUs);
        updateTimer();
    }

    void setPlaying(bool playing) {
        playing_ = playing;
        updateTimer();
        if (!io_)
            return;
        if (playing && sink_->state() == QAudio::SuspendedState)
            sink_->resume();
        else if (!playing && sink_->state() != QAudio::SuspendedState)
            sink_->suspend();
    }

    void stop() {
        closeDevice();
        timer_->stop();
        queue_.reset();
        clock_.reset();
    }

    ~Feeder() override { closeDevice(); }

  private:
    void updateTimer() {
        if (playing_ && queue_)
            timer_->start();
        else
            timer_->stop();
    }

    void closeDevice() {
        if (io_) {
            sink_->stop();
            io_ = nullptr;
        }
    }

    bool deviceFailed() const {
        const QAudio::Error e = sink_->error();
        return e == QAudio::OpenError || e == QAudio::IOError || e == QAudio::FatalError;
    }

    void tick() {
        runGuarded([this] { feed(); }, [this](const std::exception&) { owner_.fail(); });
    }

    void feed() {
        if (!queue_ || !playing_)
            return;
        if (owner_.failed_) {
            // Keep the decoder moving; nobody hears it any more.
            while (queue_->pop()) {
            }
            return;
        }
        if (!io_) {
            // The device opens once the generation's first chunk is here.
            if (!aligner_.prime(*queue_))
                return;
            io_ = sink_->start();
            if (!io_ || deviceFailed()) {
                owner_.failed_ = true;
                io_ = nullptr;
                return;
            }
            lastProcessedUs_ = -1;
        }
        if (deviceFailed()) {
            owner_.failed_ = true;
            closeDevice();
            return;
        }

        const qint64 free = sink_->bytesFree();
        const int64_t bufferedUs = bytesToUs(sink_->bufferSize() - free);
        const int64_t lowWaterFrames =
            std::max<int64_t>(0, (kLowWaterMs * 1000 - bufferedUs) * kOutputRate / 1'000'000);
        const int64_t frames = free / kBytesPerFrame;
        if (frames > 0) {
            buffer_.resize(static_cast<size_t>(frames) * kOutputChannels);
            const int64_t n = aligner_.fill(*queue_, buffer_.data(), frames, lowWaterFrames);
            if (n > 0)
                io_->write(reinterpret_cast<const char*>(buffer_.data()), n * kBytesPerFrame);
        }

        // Only a position that moves is believed: one that stands still is
        // what was written, not what is heard, and the clock runs on by
        // itself meanwhile.
        const int64_t processedUs = sink_->processedUSecs();
        if (processedUs == lastProcessedUs_)
            return;
        lastProcessedUs_ = processedUs;
        const int64_t played = processedUs * kOutputRate / 1'000'000;
        const Position position{aligner_.serial(), aligner_.timeOfFrameUs(played), steadyNowUs()};
        owner_.publish(position);
        if (played < aligner_.lastSkipFrame())
            return; // still sound from before a skip
        const int64_t lagUs = clock_->positionUs() - position.ptsUs;
        if (lagUs > kMaxLagUs && !clock_->waitingForAudio() && !clock_->paused() &&
            clock_->serial() == position.serial) {
            aligner_.skip(lagUs);
            return;
        }
        clock_->syncToAudio(position.serial, position.ptsUs);
    }

    AudioOutput& owner_;
    QAudioDevice device_;
    std::unique_ptr<QAudioSink> sink_;
    QTimer* timer_ = nullptr;
    QIODevice* io_ = nullptr;
    bool playing_ = false;
    std::shared_ptr<AudioQueue> queue_;
    std::shared_ptr<MediaClock> clock_;
    PcmAligner aligner_;
    std::vector<int16_t> buffer_;
    int64_t lastProcessedUs_ = -1;
};

AudioOutput::AudioOutput() {
    // Asked here, on the owner's thread: Qt's device list belongs to it.
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    available_ = !device.isNull() && device.isFormatSupported(outputFormat());
    if (!available_)
        return;
    feeder_ = std::make_unique<ObjectThread<Feeder>>(QStringLiteral("kavlo-audio"),
                                                     std::make_unique<Feeder>(*this, device),
                                                     [this](const std::exception&) { fail(); });
    try {
        feeder_->call([](Feeder& f) { f.init(); });
    } catch (const std::exception&) {
        // A feeder without its sink is no use: the clock runs by itself.
        fail();
        feeder_.reset();
    }
}

AudioOutput::~AudioOutput() = default;

void AudioOutput::start(std::shared_ptr<AudioQueue> queue, std::shared_ptr<MediaClock> clock,
                        uint64_t serial, int64_t startUs) {
    if (feeder_)
        feeder_->post([queue = std::move(queue), clock = std::move(clock), serial,
                       startUs](Feeder& f) { f.start(queue, clock, serial, startUs); });
}

void AudioOutput::setPlaying(bool playing) {
    if (feeder_)
        feeder_->post([playing](Feeder& f) { f.setPlaying(playing); });
}

void AudioOutput::stop() {
    if (feeder_)
        feeder_->post([](Feeder& f) { f.stop(); });
}

std::optional<AudioOutput::Position> AudioOutput::lastPosition() const {
    std::lock_guard lock(positionMutex_);
    return position_;
}

void AudioOutput::publish(const Position& position) {
    std::lock_guard lock(positionMutex_);
    position_ = position;
}

} // namespace kavlo
