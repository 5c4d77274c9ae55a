#include "audiolib/decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/mem.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "audiolib/byte_source.h"
#include "audiolib/raw_read_audio.h"

namespace corvala::audiolib {

namespace {

constexpr int IO_BUFFER_SIZE = 65536;
constexpr std::int64_t MIN_RESERVE = 4096;
constexpr std::int64_t MAX_RESERVE = 8388608;

// Containers the decoder takes, by demuxer name. None of them follows references to other files
// or URLs (playlists, concatenation scripts and image sequences are not here).
constexpr std::string_view ALLOWED_DEMUXERS[] = {"wav", "aiff", "flac", "mp3", "ogg", "caf", "mov", "matroska", "aac"};

// The same list as FFmpeg's own demuxer whitelist, which the open checks once more.
std::string format_whitelist() {
    std::string list;
    for (std::string_view name : ALLOWED_DEMUXERS) {
        if (!list.empty()) list += ',';
        list += name;
    }
    return list;
}

std::string av_message(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0) {
        return "error " + std::to_string(code);
    }
    return text;
}

AudioError decoder_error(std::string_view step, int code) {
    return {AudioErrorKind::decoder, std::string(step) + av_message(code)};
}
AudioError unsupported(std::string text) { return {AudioErrorKind::unsupported_format, std::move(text)}; }

// The file as the demuxer sees it: positioned reads on our own descriptor.
struct FileStream {
    int fd = -1;
    std::uint64_t size = 0;
    std::uint64_t position = 0;
};

int read_stream(void* opaque, std::uint8_t* buf, int buf_size) {
    auto* stream = static_cast<FileStream*>(opaque);
    if (stream->position >= stream->size) {
        return AVERROR_EOF;
    }
    const auto count = static_cast<std::size_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(buf_size), stream->size - stream->position));
    if (auto r = read_at(stream->fd, stream->position, reinterpret_cast<std::byte*>(buf), count); !r) {
        return AVERROR(EIO);
    }
    stream->position += count;
    return static_cast<int>(count);
}

std::int64_t seek_stream(void* opaque, std::int64_t offset, int whence) {
    auto* stream = static_cast<FileStream*>(opaque);
    const auto size = static_cast<std::int64_t>(stream->size);
    switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return size;
        case SEEK_SET: break;
        case SEEK_CUR: offset += static_cast<std::int64_t>(stream->position); break;
        case SEEK_END: offset += size; break;
        default: return AVERROR(EINVAL);
    }
    if (offset < 0) {
        return AVERROR(EINVAL);
    }
    stream->position = static_cast<std::uint64_t>(offset);
    return offset;
}

// Demuxers that open further resources go through this; every such open is refused.
int refuse_open(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) { return AVERROR(EPERM); }

struct IoContextDeleter {
    void operator()(AVIOContext* pb) const {
        av_freep(&pb->buffer);
        avio_context_free(&pb);
    }
};
struct FormatDeleter {
    void operator()(AVFormatContext* ctx) const { avformat_close_input(&ctx); }
};
struct CodecDeleter {
    void operator()(AVCodecContext* ctx) const { avcodec_free_context(&ctx); }
};
struct PacketDeleter {
    void operator()(AVPacket* pkt) const { av_packet_free(&pkt); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct SwrDeleter {
    void operator()(SwrContext* swr) const { swr_free(&swr); }
};
struct DictDeleter {
    void operator()(AVDictionary* dict) const { av_dict_free(&dict); }
};

bool allowed(const AVInputFormat* format) {
    // A demuxer name may list aliases ("matroska,webm"); the first is the one to match.
    std::string_view name = format->name;
    name = name.substr(0, name.find(','));
    return std::find(std::begin(ALLOWED_DEMUXERS), std::end(ALLOWED_DEMUXERS), name) != std::end(ALLOWED_DEMUXERS);
}

// The default audio track: the first audio stream marked default, else the first audio stream.
int default_audio_stream(const AVFormatContext* ctx) {
    int first = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
        if ((st->disposition & AV_DISPOSITION_DEFAULT) != 0) return static_cast<int>(i);
        if (first < 0) first = static_cast<int>(i);
    }
    return first;
}

std::size_t reserve_estimate(const AVStream* st, std::uint64_t file_size) {
    const AVCodecParameters* par = st->codecpar;
    std::int64_t frames = 0;
    if (st->duration > 0 && st->duration != AV_NOPTS_VALUE) {
        frames = av_rescale_q(st->duration, st->time_base, AVRational{1, par->sample_rate});
    }
    if (frames <= 0) {
        int bits = par->bits_per_coded_sample > 0 ? par->bits_per_coded_sample : par->bits_per_raw_sample;
        const std::int64_t bytes = bits > 0 ? (bits + 7) / 8 : 2;
        const std::int64_t channels = std::max(par->ch_layout.nb_channels, 1);
        const std::uint64_t capped = std::min<std::uint64_t>(file_size, std::numeric_limits<std::int64_t>::max());
        frames = static_cast<std::int64_t>(capped) / (bytes * channels);
    }
    frames = std::min(frames, MAX_RESERVE);  // before adding a tenth, so it cannot overflow
    frames += frames / 10;
    return static_cast<std::size_t>(std::clamp(frames, MIN_RESERVE, MAX_RESERVE));
}

class Decoder {
public:
    Decoder(AVCodecContext* codec, audio::SampleBuffer<float>& out) : codec_(codec), out_(out) {}
    ~Decoder() { av_channel_layout_uninit(&swr_layout_); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Sends one packet (nullptr: the end of the stream) and takes every frame it yields.
    std::expected<void, AudioError> decode(const AVPacket* packet) {
        if (int r = avcodec_send_packet(codec_, packet); r < 0) {
            return std::unexpected(decoder_error("decode: ", r));
        }
        for (;;) {
            const int r = avcodec_receive_frame(codec_, frame_.get());
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return {};
            if (r < 0) return std::unexpected(decoder_error("decode: ", r));
            auto appended = append(*frame_);
            av_frame_unref(frame_.get());
            if (!appended) return appended;
        }
    }

    bool ok() const { return frame_ != nullptr; }

private:
    template <typename T, typename Scale>
    void append_channel0(const AVFrame& frame, std::size_t stride, Scale scale) {
        const std::size_t n = static_cast<std::size_t>(frame.nb_samples);
        const std::size_t at = out_.size();
        out_.resize(at + n);
        const T* in = reinterpret_cast<const T*>(frame.data[0]);
        float* dst = out_.data() + at;
        for (std::size_t i = 0; i < n; ++i) dst[i] = scale(in[i * stride]);
    }

    std::expected<void, AudioError> append(const AVFrame& frame) {
        const int channels = frame.ch_layout.nb_channels;
        if (channels <= 0) {
            return std::unexpected(AudioError{AudioErrorKind::no_audio_channels, {}});
        }
        if (frame.nb_samples <= 0) return {};
        const auto format = static_cast<AVSampleFormat>(frame.format);
        // Planar formats keep channel 0 contiguous in data[0]; packed ones interleave it.
        const std::size_t stride = av_sample_fmt_is_planar(format) ? 1 : static_cast<std::size_t>(channels);
        switch (format) {
            case AV_SAMPLE_FMT_S16:
            case AV_SAMPLE_FMT_S16P:
                append_channel0<std::int16_t>(frame, stride,
                                              [](std::int16_t x) { return static_cast<float>(x) * 0x1p-15f; });
                return {};
            case AV_SAMPLE_FMT_S32:
            case AV_SAMPLE_FMT_S32P:
                append_channel0<std::int32_t>(frame, stride,
                                              [](std::int32_t x) { return static_cast<float>(x) * 0x1p-31f; });
                return {};
            case AV_SAMPLE_FMT_FLT:
            case AV_SAMPLE_FMT_FLTP:
                append_channel0<float>(frame, stride, [](float x) { return x; });
                return {};
            default:
                return convert_other(frame, format, channels);
        }
    }

    // Any other sample format: the whole buffer to interleaved float32 through libswresample,
    // then every channel-count-th value.
    std::expected<void, AudioError> convert_other(const AVFrame& frame, AVSampleFormat format, int channels) {
        if (!swr_ || swr_format_ != format || av_channel_layout_compare(&swr_layout_, &frame.ch_layout) != 0) {
            SwrContext* swr = nullptr;
            av_channel_layout_uninit(&swr_layout_);
            if (int r = av_channel_layout_copy(&swr_layout_, &frame.ch_layout); r < 0) {
                return std::unexpected(decoder_error("decode: ", r));
            }
            // Only the sample format changes: same layout, same rate.
            const int rate = frame.sample_rate > 0 ? frame.sample_rate : 1;
            int r = swr_alloc_set_opts2(&swr, &swr_layout_, AV_SAMPLE_FMT_FLT, rate, &swr_layout_, format, rate, 0,
                                        nullptr);
            swr_.reset(swr);
            if (r >= 0) r = swr_init(swr_.get());
            if (r < 0) {
                swr_.reset();
                return std::unexpected(decoder_error("decode: ", r));
            }
            swr_format_ = format;
        }
        const auto n = static_cast<std::size_t>(frame.nb_samples);
        interleaved_.resize(n * static_cast<std::size_t>(channels));
        auto* dst = reinterpret_cast<std::uint8_t*>(interleaved_.data());
        const int got = swr_convert(swr_.get(), &dst, frame.nb_samples,
                                    const_cast<const std::uint8_t**>(frame.extended_data), frame.nb_samples);
        if (got < 0) {
            return std::unexpected(decoder_error("decode: ", got));
        }
        const std::size_t at = out_.size();
        const auto count = static_cast<std::size_t>(got);
        out_.resize(at + count);
        for (std::size_t i = 0; i < count; ++i) {
            out_[at + i] = interleaved_[i * static_cast<std::size_t>(channels)];
        }
        return {};
    }

    AVCodecContext* codec_;
    audio::SampleBuffer<float>& out_;
    std::unique_ptr<AVFrame, FrameDeleter> frame_{av_frame_alloc()};
    std::unique_ptr<SwrContext, SwrDeleter> swr_;
    AVSampleFormat swr_format_ = AV_SAMPLE_FMT_NONE;
    AVChannelLayout swr_layout_{};
    audio::SampleBuffer<float> interleaved_;
};

AudioError out_of_memory() { return decoder_error("alloc: ", AVERROR(ENOMEM)); }

}  // namespace

std::expected<RawAudio, AudioError> decode_with_library(const std::string& path) {
    auto file = open_file(path);
    if (!file) {
        return std::unexpected(std::move(file.error()));
    }
    FileStream stream{file->handle.get(), file->size, 0};

    auto* io_buffer = static_cast<unsigned char*>(av_malloc(IO_BUFFER_SIZE));
    if (io_buffer == nullptr) return std::unexpected(out_of_memory());
    std::unique_ptr<AVIOContext, IoContextDeleter> io(
        avio_alloc_context(io_buffer, IO_BUFFER_SIZE, 0, &stream, read_stream, nullptr, seek_stream));
    if (!io) {
        av_free(io_buffer);
        return std::unexpected(out_of_memory());
    }

    // Probe with a name that carries only the extension: it is a hint, never opened.
    const auto ext = file_extension(path);
    const std::string hint = ext ? "input." + std::string(*ext) : std::string("input");
    const AVInputFormat* format = nullptr;
    if (int r = av_probe_input_buffer2(io.get(), &format, hint.c_str(), nullptr, 0, 0); r < 0) {
        return std::unexpected(unsupported("probe: " + av_message(r)));
    }
    if (!allowed(format)) {
        return std::unexpected(unsupported(std::string("probe: unsupported container ") + format->name));
    }

    AVFormatContext* raw_ctx = avformat_alloc_context();
    if (raw_ctx == nullptr) return std::unexpected(out_of_memory());
    raw_ctx->pb = io.get();
    raw_ctx->io_open = refuse_open;
    AVDictionary* raw_options = nullptr;
    av_dict_set(&raw_options, "protocol_whitelist", "file", 0);
    av_dict_set(&raw_options, "format_whitelist", format_whitelist().c_str(), 0);
    const int opened = avformat_open_input(&raw_ctx, hint.c_str(), format, &raw_options);
    std::unique_ptr<AVDictionary, DictDeleter> options(raw_options);
    if (opened < 0) {  // the context is freed on failure
        return std::unexpected(unsupported("probe: " + av_message(opened)));
    }
    std::unique_ptr<AVFormatContext, FormatDeleter> ctx(raw_ctx);

    int index = default_audio_stream(ctx.get());
    if (index < 0 || ctx->streams[index]->codecpar->sample_rate == 0) {
        // Some containers declare their tracks or rates only in the packets.
        if (int r = avformat_find_stream_info(ctx.get(), nullptr); r < 0) {
            return std::unexpected(unsupported("probe: " + av_message(r)));
        }
        index = default_audio_stream(ctx.get());
    }
    if (index < 0) {
        return std::unexpected(AudioError{AudioErrorKind::no_audio_track, {}});
    }
    const AVStream* st = ctx->streams[index];
    const AVCodecParameters* par = st->codecpar;

    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    if (codec == nullptr) {
        return std::unexpected(unsupported(std::string("codecs: no decoder for ") + avcodec_get_name(par->codec_id)));
    }
    std::unique_ptr<AVCodecContext, CodecDeleter> codec_ctx(avcodec_alloc_context3(codec));
    if (!codec_ctx) return std::unexpected(out_of_memory());
    if (int r = avcodec_parameters_to_context(codec_ctx.get(), par); r < 0) {
        return std::unexpected(unsupported("codecs: " + av_message(r)));
    }
    codec_ctx->pkt_timebase = st->time_base;
    if (int r = avcodec_open2(codec_ctx.get(), codec, nullptr); r < 0) {
        return std::unexpected(unsupported("codecs: " + av_message(r)));
    }

    if (par->sample_rate <= 0) {
        return std::unexpected(AudioError{AudioErrorKind::no_audio_sample_rate, {}});
    }
    const auto sample_rate = static_cast<std::uint32_t>(par->sample_rate);

    RawAudio result;
    result.sample_rate = sample_rate;
    result.samples.reserve(reserve_estimate(st, file->size));
    Decoder decoder(codec_ctx.get(), result.samples);
    std::unique_ptr<AVPacket, PacketDeleter> packet(av_packet_alloc());
    if (!packet || !decoder.ok()) return std::unexpected(out_of_memory());

    for (;;) {
        const int r = av_read_frame(ctx.get(), packet.get());
        if (r == AVERROR_EOF) break;
        if (r < 0) return std::unexpected(decoder_error("next_packet: ", r));
        // Only the selected track's packets go to its decoder; other tracks' are not audio of it.
        if (packet->stream_index != index) {
            av_packet_unref(packet.get());
            continue;
        }
        auto decoded = decoder.decode(packet.get());
        av_packet_unref(packet.get());
        if (!decoded) return std::unexpected(std::move(decoded.error()));
    }
    // Frames the decoder still holds at the end of the stream.
    if (auto drained = decoder.decode(nullptr); !drained) {
        return std::unexpected(std::move(drained.error()));
    }
    if (result.samples.empty()) {
        return std::unexpected(AudioError{AudioErrorKind::no_audio_packets, {}});
    }
    return result;
}

}  // namespace corvala::audiolib
