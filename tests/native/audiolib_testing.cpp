// Audio input units for the tests: the readers, the decoder and the resampler, each returning
// (float32 samples, rate) or raising ValueError with the AudioError's displayed text.
#include <array>
#include <cstdint>
#include <expected>
#include <limits>
#include <span>
#include <string>

#include "audiolib/aiff.h"
#include "audiolib/decoder.h"
#include "audiolib/raw_read_audio.h"
#include "audiolib/resample.h"
#include "audiolib/sphere.h"
#include "audiolib/wav.h"
#include "ext/py/args.h"
#include "ext/py/convert.h"
#include "ext/py/errors.h"
#include "ext/py/gil.h"
#include "ext/py/ref.h"
#include "ext/py/registry.h"
#include "tests/native/testing.h"

namespace corvala::testing {

namespace {

using audiolib::AudioError;
using audiolib::RawAudio;
using py::Parameter;
using py::Signature;

using PathReader = std::expected<RawAudio, AudioError> (*)(const std::string&);
using BytesReader = std::expected<RawAudio, AudioError> (*)(std::span<const std::byte>);

constexpr Parameter PATH_PARAMS[] = {{"path"}};
constexpr Parameter DATA_PARAMS[] = {{"data"}};
constexpr Parameter RESAMPLE_PARAMS[] = {{"samples"}, {"from_rate"}, {"to_rate"}};

PyObject* raise(const AudioError& error) { return py::raise(PyExc_ValueError, audiolib::render(error)); }

PyObject* to_result(std::expected<RawAudio, AudioError>&& result) {
    if (!result) {
        return raise(result.error());
    }
    const unsigned long rate = result->sample_rate;
    PyObject* samples = py::to_array(std::move(result->samples));
    if (samples == nullptr) {
        return nullptr;
    }
    return Py_BuildValue("(Nk)", samples, rate);
}

template <const char* Name, PathReader Read>
PyObject* read_path(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{Name, PATH_PARAMS};
    PyObject* bound[1];
    std::string path;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "path", path)) {
        return nullptr;
    }
    std::expected<RawAudio, AudioError> result;
    {
        py::ReleasedLock unlocked;
        result = Read(path);
    }
    return to_result(std::move(result));
}

template <const char* Name, BytesReader Read>
PyObject* read_bytes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{Name, DATA_PARAMS};
    PyObject* bound[1];
    if (!py::bind(sig, args, nargs, kwnames, bound)) {
        return nullptr;
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!PyBytes_Check(bound[0]) || PyBytes_AsStringAndSize(bound[0], &data, &size) < 0) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "data must be bytes");
        return nullptr;
    }
    // bytes are immutable and the caller holds them for the call.
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), static_cast<std::size_t>(size));
    std::expected<RawAudio, AudioError> result;
    {
        py::ReleasedLock unlocked;
        result = Read(bytes);
    }
    return to_result(std::move(result));
}

bool convert_rate(PyObject* obj, const char* name, std::uint32_t& out) {
    std::uint64_t value = 0;
    if (!py::arg(obj, name, value)) {
        return false;
    }
    if (value > std::numeric_limits<std::uint32_t>::max()) {
        PyErr_Format(PyExc_OverflowError, "%s does not fit in 32 bits", name);
        return false;
    }
    out = static_cast<std::uint32_t>(value);
    return true;
}

PyObject* resample_audio(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"resample_audio", RESAMPLE_PARAMS};
    PyObject* bound[3];
    py::ArrayArg<float> samples;
    std::uint32_t from_rate = 0;
    std::uint32_t to_rate = 0;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "samples", samples) ||
        !convert_rate(bound[1], "from_rate", from_rate) || !convert_rate(bound[2], "to_rate", to_rate)) {
        return nullptr;
    }
    std::expected<audio::SampleBuffer<float>, AudioError> result;
    {
        py::ReleasedLock unlocked;
        result = audiolib::resample_audio(samples.view, from_rate, to_rate);
    }
    if (!result) {
        return raise(result.error());
    }
    return py::to_array(std::move(*result));
}

constexpr char READ_WAV[] = "read_wav";
constexpr char READ_AIFF[] = "read_aiff";
constexpr char READ_SPHERE[] = "read_sphere";
constexpr char RAW_READ_AUDIO[] = "raw_read_audio";
constexpr char DECODE_WITH_LIBRARY[] = "decode_with_library";
constexpr char READ_WAV_BYTES[] = "read_wav_bytes";
constexpr char READ_AIFF_BYTES[] = "read_aiff_bytes";
constexpr char READ_SPHERE_BYTES[] = "read_sphere_bytes";

constexpr std::array FUNCTIONS{
    py::function<read_path<READ_WAV, audiolib::read_wav>>(READ_WAV, "read_wav(path)\n--\n\n"),
    py::function<read_path<READ_AIFF, audiolib::read_aiff>>(READ_AIFF, "read_aiff(path)\n--\n\n"),
    py::function<read_path<READ_SPHERE, audiolib::read_sphere>>(READ_SPHERE, "read_sphere(path)\n--\n\n"),
    py::function<read_path<RAW_READ_AUDIO, audiolib::raw_read_audio>>(RAW_READ_AUDIO,
                                                                        "raw_read_audio(path)\n--\n\n"),
    py::function<read_path<DECODE_WITH_LIBRARY, audiolib::decode_with_library>>(
        DECODE_WITH_LIBRARY, "decode_with_library(path)\n--\n\n"),
    py::function<read_bytes<READ_WAV_BYTES, audiolib::read_wav_bytes>>(READ_WAV_BYTES,
                                                                        "read_wav_bytes(data)\n--\n\n"),
    py::function<read_bytes<READ_AIFF_BYTES, audiolib::read_aiff_bytes>>(READ_AIFF_BYTES,
                                                                          "read_aiff_bytes(data)\n--\n\n"),
    py::function<read_bytes<READ_SPHERE_BYTES, audiolib::read_sphere_bytes>>(READ_SPHERE_BYTES,
                                                                              "read_sphere_bytes(data)\n--\n\n"),
    py::function<resample_audio>("resample_audio", "resample_audio(samples, from_rate, to_rate)\n--\n\n"),
};

}  // namespace

bool register_audiolib(PyObject* module) { return py::add_functions(module, FUNCTIONS); }

}  // namespace corvala::testing
