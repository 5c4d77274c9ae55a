#include "audiolib/resample.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

namespace corvala::audiolib {

std::mutex SOXR_LOCK;

namespace {

constexpr std::size_t DRAIN_BLOCK = 256;
// Input handed to one soxr_process call. libsoxr's output does not depend on how its input is
// divided, and pieces of this size keep its working buffers in cache (a whole minute at once
// runs markedly slower).
constexpr std::size_t INPUT_PIECE = 65536;

AudioError resample_error(std::string text) { return {AudioErrorKind::resample, std::move(text)}; }
AudioError soxr_failure(soxr_error_t error) { return resample_error(std::string("soxr error: ") + error); }

struct SoxrDeleter {
    void operator()(soxr_t s) const { soxr_delete(s); }
};

void grow(audio::SampleBuffer<float>& out) {
    const std::size_t extra = out.size() > 513 ? out.size() / 2 : 256;
    out.resize(out.size() + extra, 0.0f);
}

}  // namespace

std::expected<audio::SampleBuffer<float>, AudioError> resample_audio(audio::SampleView<float> input,
                                                                     std::uint32_t from_rate,
                                                                     std::uint32_t to_rate) {
    if (from_rate == 0 || to_rate == 0) {
        return std::unexpected(resample_error("Sample rates must be greater than 0"));
    }
    const std::size_t n = input.length;
    if (n == 0) {
        return std::unexpected(resample_error("Input array cannot be empty"));
    }
    if (from_rate == to_rate) {
        audio::SampleBuffer<float> copy(n);
        for (std::size_t i = 0; i < n; ++i) copy[i] = input[i];
        return copy;
    }

    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_t raw = nullptr;
    {
        std::lock_guard lock(SOXR_LOCK);
        raw = soxr_create(from_rate, to_rate, 1, &error, &io, &quality, &runtime);
    }
    std::unique_ptr<soxr, SoxrDeleter> resampler(raw);
    if (error != nullptr || !resampler) {
        return std::unexpected(soxr_failure(error != nullptr ? error : "soxr_create failed"));
    }
    if (!input.contiguous()) {
        return std::unexpected(resample_error("Failed to get input data as a slice"));
    }
    const float* in = reinterpret_cast<const float*>(input.data);

    const double expected = std::ceil(static_cast<double>(to_rate) / static_cast<double>(from_rate) *
                                      static_cast<double>(n));
    const auto delay = static_cast<std::size_t>(std::trunc(soxr_delay(resampler.get())));
    audio::SampleBuffer<float> out;
    out.resize(static_cast<std::size_t>(expected) + delay + 32, 0.0f);

    std::size_t consumed = 0;
    std::size_t produced = 0;
    do {
        if (produced == out.size()) grow(out);
        std::size_t used = 0;
        std::size_t done = 0;
        const std::size_t piece = std::min(n - consumed, INPUT_PIECE);
        error = soxr_process(resampler.get(), in + consumed, piece, &used, out.data() + produced,
                             out.size() - produced, &done);
        if (error != nullptr) return std::unexpected(soxr_failure(error));
        consumed += used;
        produced += done;
        if (used == 0 && done == 0) grow(out);
    } while (consumed < n);

    out.resize(produced);
    float tail[DRAIN_BLOCK];
    for (;;) {
        std::size_t done = 0;
        error = soxr_process(resampler.get(), nullptr, 0, nullptr, tail, DRAIN_BLOCK, &done);
        if (error != nullptr) return std::unexpected(soxr_failure(error));
        if (done == 0) break;
        out.insert(out.end(), tail, tail + done);
    }
    return out;
}

}  // namespace corvala::audiolib
