#include "playback/live_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora {

namespace {

// About five seconds of the stream at the highest rate; a picture is
// encoded only while room for a large key frame is left.
constexpr std::size_t kPipeBytes = 4 << 20;
constexpr std::size_t kPictureRoom = 1 << 20;
constexpr AVRational kTsTime{1, 90000};
// x264 at its fastest, tuned to hold back no frame; quality 23, capped.
constexpr const char* kPreset = "ultrafast";
constexpr const char* kTune = "zerolatency";
constexpr double kQuality = 23;

std::atomic<int> gRunning{0};

std::string avError(int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    return text;
}

// The bytes on their way from the thread to the reader.
class Pipe {
public:
    std::size_t room() {
        std::lock_guard lock(m_);
        return bytes_.size() - size_;
    }
    // Waits for room as long as it takes; false once stopped.
    bool write(const std::uint8_t* data, std::size_t n) {
        std::unique_lock lock(m_);
        while (n > 0) {
            writable_.wait(lock, [&] { return stopped_ || size_ < bytes_.size(); });
            if (stopped_) return false;
            const std::size_t tail = (head_ + size_) % bytes_.size();
            const std::size_t chunk = std::min({n, bytes_.size() - size_, bytes_.size() - tail});
            std::memcpy(bytes_.data() + tail, data, chunk);
            size_ += chunk;
            data += chunk;
            n -= chunk;
            readable_.notify_all();
        }
        return true;
    }
    std::int64_t read(char* out, std::size_t n) {
        std::unique_lock lock(m_);
        readable_.wait(lock, [&] { return cancelled_ || size_ > 0 || ended_; });
        if (cancelled_) return -1;
        const std::size_t chunk = std::min({n, size_, bytes_.size() - head_});
        std::memcpy(out, bytes_.data() + head_, chunk);
        head_ = (head_ + chunk) % bytes_.size();
        size_ -= chunk;
        writable_.notify_all();
        return static_cast<std::int64_t>(chunk);
    }
    void end() { set(ended_); }
    // Reading stops for good; so does writing.
    void cancel() {
        set(cancelled_);
        stop();
    }
    void stop() { set(stopped_); }

private:
    void set(bool& flag) {
        std::lock_guard lock(m_);
        flag = true;
        readable_.notify_all();
        writable_.notify_all();
    }
    std::mutex m_;
    std::condition_variable readable_, writable_;
    std::vector<char> bytes_ = std::vector<char>(kPipeBytes);
    std::size_t head_ = 0, size_ = 0;
    bool ended_ = false, cancelled_ = false, stopped_ = false;
};

}  // namespace

struct LiveEncoder::State {
    CaptureInput input;
    std::string error;
    Pipe pipe;
    std::atomic<bool> stopping{false};
    std::thread thread;
    std::atomic<long long> picturesRead{0}, picturesEncoded{0}, picturesLeftOut{0}, bytesOut{0};

    AVFormatContext* in = nullptr;
    int video = -1;
    AVRational rate{30, 1};
    AVCodecContext* decoder = nullptr;
    AVCodecContext* encoder = nullptr;
    AVFormatContext* out = nullptr;
    SwsContext* sws = nullptr;
    int swsWidth = 0, swsHeight = 0, swsFormat = AV_PIX_FMT_NONE;  // the pictures `sws` was made for
    AVFrame* frame = nullptr;    // as decoded
    AVFrame* picture = nullptr;  // converted for the encoder
    AVPacket* packet = nullptr;
    std::int64_t firstTimestamp = AV_NOPTS_VALUE;
    std::int64_t lastPts = AV_NOPTS_VALUE;
    std::int64_t leftOutTicks = 0;  // stream time taken out for pictures left out
    bool afterGap = false;

    bool open();
    void run();
    bool take(AVFrame& decoded);
    bool openOutput(const AVFrame& first);
    bool encode(AVFrame* picture);
    void close();

    static int interrupted(void* self) { return static_cast<State*>(self)->stopping.load() ? 1 : 0; }
    static int written(void* self, std::uint8_t* data, int size) {
        auto* s = static_cast<State*>(self);
        if (!s->pipe.write(data, static_cast<std::size_t>(size))) return AVERROR_EXIT;
        s->bytesOut += size;
        return size;
    }
};

bool LiveEncoder::State::open() {
    static std::once_flag devices;
    std::call_once(devices, [] { avdevice_register_all(); });
    if (!avcodec_find_encoder_by_name("libx264")) {
        error = "the H.264 encoder (libx264) is not available.";
        return false;
    }
    const AVInputFormat* format = av_find_input_format(input.format.c_str());
    if (!format) {
        error = "the input format " + input.format + " is not available.";
        return false;
    }
    in = avformat_alloc_context();
    frame = av_frame_alloc();
    picture = av_frame_alloc();
    packet = av_packet_alloc();
    if (!in || !frame || !picture || !packet) {
        error = "out of memory.";
        return false;
    }
    in->interrupt_callback = {&State::interrupted, this};
    // A device with no picture ready says so at once: the thread can stop.
    in->flags |= AVFMT_FLAG_NONBLOCK;
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : input.options) av_dict_set(&options, key.c_str(), value.c_str(), 0);
    const int err = avformat_open_input(&in, input.url.c_str(), format, &options);
    av_dict_free(&options);
    if (err < 0) {
        error = avError(err) + ".";
        return false;
    }
    video = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) {
        error = "it sends no pictures.";
        return false;
    }
    const AVStream* stream = in->streams[video];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!decoder || avcodec_parameters_to_context(decoder, stream->codecpar) < 0 ||
        avcodec_open2(decoder, codec, nullptr) < 0) {
        error = "its pictures cannot be decoded.";
        return false;
    }
    const AVRational guessed = av_guess_frame_rate(in, in->streams[video], nullptr);
    if (guessed.num > 0 && guessed.den > 0) rate = guessed;
    return true;
}

void LiveEncoder::State::run() {
    while (!stopping) {
        const int err = av_read_frame(in, packet);
        if (err == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
            continue;
        }
        if (err < 0) break;  // the end, or the device is gone
        bool ok = true;
        if (packet->stream_index == video) {
            ++picturesRead;
            // A picture that does not decode (a torn MJPEG frame) is skipped.
            if (avcodec_send_packet(decoder, packet) >= 0)
                while (ok && avcodec_receive_frame(decoder, frame) >= 0) {
                    ok = take(*frame);
                    av_frame_unref(frame);
                }
        }
        av_packet_unref(packet);
        if (!ok) break;
    }
    if (!stopping && encoder && encode(nullptr)) av_write_trailer(out);
    close();
    --gRunning;
    pipe.end();
}

bool LiveEncoder::State::take(AVFrame& decoded) {
    if (pipe.room() < kPictureRoom) {
        ++picturesLeftOut;  // nobody reads: what is encoded later is current
        afterGap = true;
        return true;
    }
    // Stream time from the first picture on, strictly rising.
    const AVRational base = in->streams[video]->time_base;
    const std::int64_t frameTicks = av_rescale_q(1, av_inv_q(rate), kTsTime);
    std::int64_t pts = 0;
    if (decoded.best_effort_timestamp != AV_NOPTS_VALUE) {
        if (firstTimestamp == AV_NOPTS_VALUE) firstTimestamp = decoded.best_effort_timestamp;
        pts = av_rescale_q(decoded.best_effort_timestamp - firstTimestamp, base, kTsTime) - leftOutTicks;
    } else if (lastPts != AV_NOPTS_VALUE) {
        pts = lastPts + frameTicks;
    }
    // Pictures left out leave no gap: the stream holds what was encoded.
    if (afterGap && lastPts != AV_NOPTS_VALUE && pts > lastPts + frameTicks) {
        leftOutTicks += pts - (lastPts + frameTicks);
        pts = lastPts + frameTicks;
    }
    afterGap = false;
    if (lastPts != AV_NOPTS_VALUE && pts <= lastPts) return true;
    if (!encoder && !openOutput(decoded)) return false;
    AVFrame* source = &decoded;
    if (decoded.format != encoder->pix_fmt || decoded.width != encoder->width || decoded.height != encoder->height) {
        // Made again only when the pictures change.  (sws_getCachedContext
        // cannot tell: for the full-range formats of MJPEG cameras it makes a
        // new converter for every picture, 0.14 ms at 1080p, and logs a
        // warning each time.)
        if (!sws || decoded.width != swsWidth || decoded.height != swsHeight || decoded.format != swsFormat) {
            sws_freeContext(sws);
            sws = sws_getContext(decoded.width, decoded.height, static_cast<AVPixelFormat>(decoded.format),
                                 encoder->width, encoder->height, encoder->pix_fmt, SWS_BILINEAR, nullptr, nullptr,
                                 nullptr);
            swsWidth = decoded.width;
            swsHeight = decoded.height;
            swsFormat = decoded.format;
        }
        if (!sws || av_frame_make_writable(picture) < 0) return false;
        sws_scale(sws, decoded.data, decoded.linesize, 0, decoded.height, picture->data, picture->linesize);
        source = picture;
    }
    source->pts = lastPts = pts;
    source->pict_type = AV_PICTURE_TYPE_NONE;
    return encode(source);
}

bool LiveEncoder::State::openOutput(const AVFrame& first) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec || !(encoder = avcodec_alloc_context3(codec))) return false;
    encoder->width = first.width & ~1;
    encoder->height = first.height & ~1;
    encoder->sample_aspect_ratio = first.sample_aspect_ratio;
    // 4:2:0; full range stays full range (MJPEG's pictures): converting the
    // range would cost three times what halving the chroma does.
    const auto format = static_cast<AVPixelFormat>(first.format);
    const bool fullRange = format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
                           format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P;
    encoder->pix_fmt = fullRange ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
    encoder->time_base = kTsTime;
    encoder->framerate = rate;
    encoder->gop_size = std::max(1, static_cast<int>(av_q2d(rate) * kFeedKeyFrameSeconds + 0.5));
    encoder->max_b_frames = 0;
    encoder->rc_max_rate = kFeedMaxBitrate;
    encoder->rc_buffer_size = static_cast<int>(kFeedMaxBitrate);
    av_opt_set(encoder->priv_data, "preset", kPreset, 0);
    av_opt_set(encoder->priv_data, "tune", kTune, 0);
    av_opt_set_double(encoder->priv_data, "crf", kQuality, 0);
    if (avcodec_open2(encoder, codec, nullptr) < 0) return false;
    picture->format = encoder->pix_fmt;
    picture->width = encoder->width;
    picture->height = encoder->height;
    if (av_frame_get_buffer(picture, 0) < 0) return false;

    if (avformat_alloc_output_context2(&out, nullptr, "mpegts", nullptr) < 0) return false;
    AVStream* stream = avformat_new_stream(out, nullptr);
    if (!stream || avcodec_parameters_from_context(stream->codecpar, encoder) < 0) return false;
    stream->time_base = kTsTime;
    constexpr int kBlock = 188 * 64;
    auto* block = static_cast<unsigned char*>(av_malloc(kBlock));
    out->pb = block ? avio_alloc_context(block, kBlock, 1, this, nullptr, &State::written, nullptr) : nullptr;
    if (!out->pb) {
        av_free(block);
        return false;
    }
    // Each packet goes out as soon as it is made.
    out->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_FLUSH_PACKETS;
    return avformat_write_header(out, nullptr) >= 0;
}

bool LiveEncoder::State::encode(AVFrame* source) {
    int err = avcodec_send_frame(encoder, source);
    if (err < 0) return false;
    if (source) ++picturesEncoded;
    while ((err = avcodec_receive_packet(encoder, packet)) >= 0) {
        av_packet_rescale_ts(packet, encoder->time_base, out->streams[0]->time_base);
        packet->stream_index = 0;
        err = av_write_frame(out, packet);
        av_packet_unref(packet);
        if (err < 0) return false;
    }
    return err == AVERROR(EAGAIN) || err == AVERROR_EOF;
}

void LiveEncoder::State::close() {
    // The device first: it may be opened again at once.
    avformat_close_input(&in);
    if (out) {
        if (out->pb) av_freep(&out->pb->buffer);
        avio_context_free(&out->pb);
        avformat_free_context(out);
        out = nullptr;
    }
    avcodec_free_context(&decoder);
    avcodec_free_context(&encoder);
    sws_freeContext(sws);
    sws = nullptr;
    av_frame_free(&frame);
    av_frame_free(&picture);
    av_packet_free(&packet);
}

LiveEncoder::LiveEncoder(CaptureInput input) : s_(std::make_unique<State>()) { s_->input = std::move(input); }

LiveEncoder::~LiveEncoder() {
    stop();
    s_->close();
}

bool LiveEncoder::start() {
    if (s_->thread.joinable()) return true;
    if (!s_->open()) {
        s_->close();
        return false;
    }
    ++gRunning;
    s_->thread = std::thread([s = s_.get()] { s->run(); });
    return true;
}

const std::string& LiveEncoder::error() const { return s_->error; }

std::int64_t LiveEncoder::read(char* buffer, std::size_t size) { return s_->pipe.read(buffer, size); }

void LiveEncoder::cancel() { s_->pipe.cancel(); }

void LiveEncoder::stop() {
    s_->stopping = true;
    s_->pipe.stop();
    if (s_->thread.joinable()) s_->thread.join();
}

LiveEncoder::Figures LiveEncoder::figures() const {
    // What became of the pictures before how many were read: a picture the
    // thread has in hand counts as read, never as encoded before it is read.
    Figures f;
    f.picturesEncoded = s_->picturesEncoded;
    f.picturesLeftOut = s_->picturesLeftOut;
    f.bytesOut = s_->bytesOut;
    f.picturesRead = s_->picturesRead;
    return f;
}

int LiveEncoder::running() { return gRunning; }

}  // namespace velmora
