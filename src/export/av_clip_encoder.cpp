#include "export/clip_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <unistd.h>

#include <atomic>
#include <climits>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace velmora {

namespace {

namespace fs = std::filesystem;

struct Failure {
    std::string reason;
};

std::string avError(int err) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    return text;
}

void check(int err, const char* what) {
    if (err < 0) throw Failure{std::string(what) + ": " + avError(err)};
}

// A hidden name beside the target, unique within this process and between
// processes, and no longer than the longest name the target may have: the
// target's name is shortened for it (never inside a UTF-8 character).
std::string temporaryNameFor(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    const fs::path target(path);
    const std::string suffix = "." + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".part";
    std::string stem = target.filename().string();
    const std::size_t room = NAME_MAX - 1 - suffix.size();
    if (stem.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
        stem.resize(cut);
    }
    return (target.parent_path() / ("." + stem + suffix)).string();
}

struct CodecContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFree {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

// The output file: closed, and removed unless it was completed and renamed.
class Output {
public:
    explicit Output(std::string temporary) : temporary_(std::move(temporary)) {}
    ~Output() {
        close();
        if (!kept_) std::remove(temporary_.c_str());
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    AVFormatContext* context = nullptr;

    void close() {
        if (!context) return;
        if (context->pb && !(context->oformat->flags & AVFMT_NOFILE)) avio_closep(&context->pb);
        avformat_free_context(context);
        context = nullptr;
    }
    void renameTo(const std::string& path) {
        if (std::rename(temporary_.c_str(), path.c_str()) != 0) throw Failure{std::strerror(errno)};
        kept_ = true;
    }

private:
    std::string temporary_;
    bool kept_ = false;
};

// 6 x 7 x 6 levels of red, green and blue: 252 colours of the 256 a GIF frame
// may have.  One palette for every frame keeps still parts still.
constexpr int kRedLevels = 6, kGreenLevels = 7, kBlueLevels = 6;
constexpr int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

void fillGifPalette(std::uint32_t* palette) {
    std::memset(palette, 0, AVPALETTE_SIZE);
    for (int r = 0; r < kRedLevels; ++r)
        for (int g = 0; g < kGreenLevels; ++g)
            for (int b = 0; b < kBlueLevels; ++b) {
                const auto level = [](int i, int levels) {
                    return static_cast<std::uint32_t>(i * 255 / (levels - 1));
                };
                palette[(r * kGreenLevels + g) * kBlueLevels + b] = 0xff000000u | level(r, kRedLevels) << 16 |
                                                                    level(g, kGreenLevels) << 8 |
                                                                    level(b, kBlueLevels);
            }
}

// Ordered dithering onto the palette's levels.
void toGifIndices(const Pixel* src, int width, int height, std::uint8_t* dst, int dstStride) {
    const auto quantize = [](int value, int levels, int threshold) {
        // threshold 0..15 spreads the rounding over one step between levels.
        const int scaled = value * (levels - 1) * 16 + (threshold - 8) * 255 + 255 * 8;
        const int q = scaled / (255 * 16);
        return q < 0 ? 0 : (q >= levels ? levels - 1 : q);
    };
    for (int y = 0; y < height; ++y) {
        const Pixel* row = src + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        std::uint8_t* out = dst + static_cast<std::ptrdiff_t>(y) * dstStride;
        for (int x = 0; x < width; ++x) {
            const int t = kBayer[y & 3][x & 3];
            const Pixel p = row[x];
            const int r = quantize(static_cast<int>(p >> 16 & 0xff), kRedLevels, t);
            const int g = quantize(static_cast<int>(p >> 8 & 0xff), kGreenLevels, t);
            const int b = quantize(static_cast<int>(p & 0xff), kBlueLevels, t);
            out[x] = static_cast<std::uint8_t>((r * kGreenLevels + g) * kBlueLevels + b);
        }
    }
}

struct FormatChoice {
    const char* muxer;
    const char* encoder;
    AVPixelFormat pixels;
};

FormatChoice choiceFor(ClipFormat format) {
    switch (format) {
        case ClipFormat::Gif:
            return {"gif", "gif", AV_PIX_FMT_PAL8};
        case ClipFormat::WebP:
            return {"webp", "libwebp_anim", AV_PIX_FMT_RGB32};
        case ClipFormat::Mp4:
            break;
    }
    return {"mp4", "libx264", AV_PIX_FMT_YUV420P};
}

void encode(const ClipJob& job, const ClipProgress& progress, ClipResult& result) {
    const FormatChoice choice = choiceFor(job.format);
    const bool mp4 = job.format == ClipFormat::Mp4;
    // H.264 in 4:2:0 wants even sizes.
    const int width = mp4 ? job.width & ~1 : job.width;
    const int height = mp4 ? job.height & ~1 : job.height;
    if (job.frames.empty() || width < 2 || height < 2 || job.frameMs <= 0)
        throw Failure{"there are no frames to export"};
    const std::size_t framePixels =
        static_cast<std::size_t>(job.width) * static_cast<std::size_t>(job.height);
    for (const auto& f : job.frames)
        if (f.size() != framePixels) throw Failure{"the frames differ in size"};

    const AVCodec* codec = avcodec_find_encoder_by_name(choice.encoder);
    if (!codec)
        throw Failure{std::string("this system's FFmpeg libraries have no ") + choice.encoder + " encoder"};

    const std::string temporary = temporaryNameFor(job.path);
    Output out(temporary);
    check(avformat_alloc_output_context2(&out.context, nullptr, choice.muxer, temporary.c_str()),
          "cannot write this format");
    AVFormatContext* fc = out.context;

    std::unique_ptr<AVCodecContext, CodecContextFree> enc(avcodec_alloc_context3(codec));
    if (!enc) throw Failure{"out of memory"};
    enc->width = width;
    enc->height = height;
    enc->pix_fmt = choice.pixels;
    // One tick per frame: each frame lasts frameMs.
    av_reduce(&enc->time_base.num, &enc->time_base.den, job.frameMs, 1000, INT32_MAX);
    enc->framerate = av_inv_q(enc->time_base);
    enc->thread_count = 0;
    if (fc->oformat->flags & AVFMT_GLOBALHEADER) enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (mp4) {
        // Fast enough for 50 full-HD frames in well under two seconds on two cores.
        av_opt_set(enc->priv_data, "preset", "superfast", 0);
        av_opt_set(enc->priv_data, "crf", "18", 0);
        enc->color_primaries = AVCOL_PRI_BT709;
        enc->color_trc = AVCOL_TRC_BT709;
        enc->colorspace = AVCOL_SPC_BT709;
        enc->color_range = AVCOL_RANGE_MPEG;
    } else if (job.format == ClipFormat::WebP) {
        av_opt_set(enc->priv_data, "quality", "90", 0);
        enc->compression_level = 3;
    }
    check(avcodec_open2(enc.get(), codec, nullptr), "cannot start the encoder");

    AVStream* stream = avformat_new_stream(fc, nullptr);
    if (!stream) throw Failure{"out of memory"};
    check(avcodec_parameters_from_context(stream->codecpar, enc.get()), "cannot start the encoder");
    stream->time_base = enc->time_base;

    check(avio_open(&fc->pb, temporary.c_str(), AVIO_FLAG_WRITE), "cannot create the file");
    AVDictionary* muxerOptions = nullptr;
    // The index first, so that the clip plays while it is still arriving.
    if (mp4) av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
    const int headerWritten = avformat_write_header(fc, &muxerOptions);
    av_dict_free(&muxerOptions);
    check(headerWritten, "cannot write the file");

    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    if (!frame || !packet) throw Failure{"out of memory"};
    frame->format = choice.pixels;
    frame->width = width;
    frame->height = height;
    check(av_frame_get_buffer(frame.get(), 0), "out of memory");

    std::unique_ptr<SwsContext, SwsFree> toYuv;
    if (mp4) {
        toYuv.reset(sws_getContext(width, height, AV_PIX_FMT_RGB32, width, height, AV_PIX_FMT_YUV420P,
                                   SWS_BILINEAR, nullptr, nullptr, nullptr));
        if (!toYuv) throw Failure{"cannot convert the pictures"};
        // Full-range RGB to limited-range BT.709, as the stream says.
        sws_setColorspaceDetails(toYuv.get(), sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 sws_getCoefficients(SWS_CS_ITU709), 0, 0, 1 << 16, 1 << 16);
    }

    const auto drain = [&] {
        for (;;) {
            const int got = avcodec_receive_packet(enc.get(), packet.get());
            if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) return;
            check(got, "cannot encode");
            if (packet->duration <= 0) packet->duration = 1;
            av_packet_rescale_ts(packet.get(), enc->time_base, stream->time_base);
            packet->stream_index = stream->index;
            check(av_interleaved_write_frame(fc, packet.get()), "cannot write the file");
        }
    };

    const int stride = job.width * static_cast<int>(sizeof(Pixel));
    for (std::size_t i = 0; i < job.frames.size(); ++i) {
        if (progress && !progress(static_cast<int>(i))) {
            result.status = ClipResult::Cancelled;
            return;
        }
        check(av_frame_make_writable(frame.get()), "out of memory");
        const Pixel* pixels = job.frames[i].data();
        if (mp4) {
            const std::uint8_t* src[1] = {reinterpret_cast<const std::uint8_t*>(pixels)};
            sws_scale(toYuv.get(), src, &stride, 0, height, frame->data, frame->linesize);
        } else if (job.format == ClipFormat::Gif) {
            fillGifPalette(reinterpret_cast<std::uint32_t*>(frame->data[1]));
            toGifIndices(pixels, width, height, frame->data[0], frame->linesize[0]);
        } else {
            // The fourth byte of a captured pixel is padding, not alpha
            // (often 0): WebP would take it for transparency.
            for (int y = 0; y < height; ++y) {
                const Pixel* in = pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(job.width);
                auto* out = reinterpret_cast<Pixel*>(frame->data[0] +
                                                     static_cast<std::ptrdiff_t>(y) * frame->linesize[0]);
                for (int x = 0; x < width; ++x) out[x] = in[x] | 0xff000000u;
            }
        }
        frame->pts = static_cast<std::int64_t>(i);
        check(avcodec_send_frame(enc.get(), frame.get()), "cannot encode");
        drain();
    }
    check(avcodec_send_frame(enc.get(), nullptr), "cannot encode");
    drain();
    check(av_write_trailer(fc), "cannot write the file");
    const int closed = avio_closep(&fc->pb);
    check(closed, "cannot write the file");
    out.close();
    if (progress && !progress(static_cast<int>(job.frames.size()))) {
        result.status = ClipResult::Cancelled;
        return;
    }
    out.renameTo(job.path);
    result.status = ClipResult::Written;
}

}  // namespace

ClipResult encodeClip(const ClipJob& job, const ClipProgress& progress) {
    ClipResult result;
    // Failures are reported with the result, not on the terminal.
    av_log_set_level(AV_LOG_ERROR);
    try {
        encode(job, progress, result);
    } catch (const Failure& f) {
        result = {ClipResult::Failed, f.reason};
    } catch (const std::bad_alloc&) {
        result = {ClipResult::Failed, "out of memory"};
    } catch (const std::exception& e) {
        result = {ClipResult::Failed, e.what()};
    } catch (...) {
        result = {ClipResult::Failed, "the encoder failed"};
    }
    return result;
}

}  // namespace velmora
