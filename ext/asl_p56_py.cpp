#include "ext/asl_p56_py.h"

#include <array>
#include <cstdint>
#include <vector>

#include "ext/asl_p56.h"
#include "ext/py/args.h"
#include "ext/py/convert.h"
#include "ext/py/errors.h"
#include "ext/py/ref.h"
#include "ext/py/registry.h"

namespace corvala {

namespace {

using py::Parameter;
using py::Ref;
using py::Signature;

constexpr Parameter AUDIO_PARAMS[] = {{"audio"}};
constexpr Parameter ENVELOPE_PARAMS[] = {{"audio"}, {"sample_rate"}};
constexpr Parameter COUNT_PARAMS[] = {{"q"}, {"c"}, {"h_samples"}, {"length"}};
constexpr Parameter INTERP_PARAMS[] = {{"u_cnt"}, {"l_cnt"}, {"u_thr"}, {"l_thr"}, {"margin"}, {"tol"}};
constexpr Parameter ASL_PARAMS[] = {{"a"}, {"c"}, {"sq"}, {"eps"}, {"margin"}};

PyObject* raise(const speech::SpeechLevelError& error) { return py::raise(PyExc_ValueError, error.message); }

template <typename T, typename To = T>
std::vector<To> to_vector(const audio::SampleView<T>& view) {
    std::vector<To> out(view.length);
    for (std::size_t i = 0; i < view.length; ++i) {
        out[i] = view[i];
    }
    return out;
}

// Float arguments are taken as float32.
bool arg_f32(PyObject* obj, const char* name, float& out) {
    double value = 0.0;
    if (!py::arg(obj, name, value)) {
        return false;
    }
    out = static_cast<float>(value);
    return true;
}

PyObject* to_array(const std::array<float, speech::NUM_THRESHOLDS>& values) {
    return py::to_array(audio::SampleBuffer<float>(values.begin(), values.end()));
}

PyObject* compute_envelope(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"compute_envelope", ENVELOPE_PARAMS};
    PyObject* bound[2];
    py::ArrayArg<float> audio;
    std::int64_t sample_rate = 0;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "audio", audio) ||
        !py::arg(bound[1], "sample_rate", sample_rate)) {
        return nullptr;
    }
    speech::Envelope env = speech::compute_envelope(audio.view, sample_rate);
    std::array<Ref, 5> items{
        Ref::steal(py::to_array(std::move(env.q))),       Ref::steal(PyFloat_FromDouble(env.margin)),
        Ref::steal(PyFloat_FromDouble(env.eps)),          Ref::steal(PyLong_FromLongLong(env.h_samples)),
        Ref::steal(to_array(env.c)),
    };
    Ref result = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    if (!result) {
        return nullptr;
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!items[i]) {
            return nullptr;
        }
        PyTuple_SetItem(result.get(), static_cast<Py_ssize_t>(i), items[i].release());
    }
    return result.release();
}

PyObject* count_activity(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"count_activity", COUNT_PARAMS};
    PyObject* bound[4];
    py::ArrayArg<float> q;
    py::ArrayArg<float> c;
    std::int64_t h_samples = 0;
    std::int64_t length = 0;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "q", q) || !py::arg(bound[1], "c", c) ||
        !py::arg(bound[2], "h_samples", h_samples) || !py::arg(bound[3], "length", length)) {
        return nullptr;
    }
    const std::vector<float> thresholds = to_vector(c.view);
    auto counts = speech::count_activity(q.view, thresholds, h_samples, length);
    if (!counts) {
        return raise(counts.error());
    }
    return py::to_array(std::move(*counts));
}

PyObject* bin_interp(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"bin_interp", INTERP_PARAMS};
    PyObject* bound[6];
    std::array<float, 6> v{};
    if (!py::bind(sig, args, nargs, kwnames, bound)) {
        return nullptr;
    }
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (!arg_f32(bound[i], INTERP_PARAMS[i].name, v[i])) {
            return nullptr;
        }
    }
    auto level = speech::bin_interp(v[0], v[1], v[2], v[3], v[4], v[5]);
    if (!level) {
        return raise(level.error());
    }
    return PyFloat_FromDouble(*level);
}

PyObject* compute_asl_from_thresholds(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"compute_asl_from_thresholds", ASL_PARAMS};
    PyObject* bound[5];
    py::ArrayArg<std::int32_t> a;
    py::ArrayArg<float> c;
    float sq = 0.0f;
    float eps = 0.0f;
    float margin = 0.0f;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "a", a) || !py::arg(bound[1], "c", c) ||
        !arg_f32(bound[2], "sq", sq) || !arg_f32(bound[3], "eps", eps) || !arg_f32(bound[4], "margin", margin)) {
        return nullptr;
    }
    const std::vector<std::int64_t> counts = to_vector<std::int32_t, std::int64_t>(a.view);
    const std::vector<float> thresholds = to_vector(c.view);
    auto level = speech::compute_asl_from_thresholds(counts, thresholds, sq, eps, margin);
    if (!level) {
        return raise(level.error());
    }
    return PyFloat_FromDouble(*level);
}

PyObject* asl_p56(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"asl_p56", AUDIO_PARAMS};
    PyObject* bound[1];
    py::ArrayArg<float> audio;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "audio", audio)) {
        return nullptr;
    }
    return PyFloat_FromDouble(speech::asl_p56(audio.view));
}

constexpr const char* COMPUTE_ENVELOPE_DOC =
    "compute_envelope(audio, sample_rate)\n--\n\n"
    "Binding for the envelope computation of ITU-T P.56 Method B.\n\n"
    "# Arguments\n\n"
    "* `audio` - The input signal (one-dimensional float32 array).\n"
    "* `sample_rate` - Its sampling rate in Hz.\n\n"
    "# Returns\n\n"
    "A tuple `(q, margin, eps, h_samples, c)`:\n\n"
    "* `q` - The envelope, a float32 array as long as `audio`.\n"
    "* `margin` - The margin value in dB (typically 15.9), a float.\n"
    "* `eps` - The epsilon value for floating-point stability, a float.\n"
    "* `h_samples` - The hangover time in samples, an int.\n"
    "* `c` - The array of thresholds used for activity counting, a float32 array.";

constexpr const char* COUNT_ACTIVITY_DOC =
    "count_activity(q, c, h_samples, length)\n--\n\n"
    "Binding for the activity counting of ITU-T P.56 Method B.\n\n"
    "# Arguments\n\n"
    "* `q` - The signal envelope (float32 array).\n"
    "* `c` - The array of thresholds (float32 array).\n"
    "* `h_samples` - The hangover time in samples.\n"
    "* `length` - The length of the signal: the number of envelope samples to scan.\n\n"
    "# Returns\n\n"
    "A one-dimensional int32 array of activity counts, one per threshold.";

constexpr const char* BIN_INTERP_DOC =
    "bin_interp(u_cnt, l_cnt, u_thr, l_thr, margin, tol)\n--\n\n"
    "Binding for the binary interpolation of ITU-T P.56 Method B.\n\n"
    "# Arguments\n\n"
    "* `u_cnt` - The upper bound count (dB).\n"
    "* `l_cnt` - The lower bound count (dB).\n"
    "* `u_thr` - The upper bound threshold (dB).\n"
    "* `l_thr` - The lower bound threshold (dB).\n"
    "* `margin` - The margin value (dB).\n"
    "* `tol` - The convergence tolerance (dB).\n\n"
    "# Returns\n\n"
    "A float: the interpolated active speech level (dB).";

constexpr const char* COMPUTE_ASL_DOC =
    "compute_asl_from_thresholds(a, c, sq, eps, margin)\n--\n\n"
    "Binding for the active speech level calculation from thresholds of ITU-T P.56 Method B.\n\n"
    "# Arguments\n\n"
    "* `a` - The activity counts per threshold (int32 array).\n"
    "* `c` - The thresholds (float32 array).\n"
    "* `sq` - The total square energy of the signal.\n"
    "* `eps` - The epsilon value for stability.\n"
    "* `margin` - The margin value (dB).\n\n"
    "# Returns\n\n"
    "A float: the active speech level as a mean-square value.";

constexpr const char* ASL_P56_DOC =
    "asl_p56(audio)\n--\n\n"
    "Calculate the active speech level using ITU-T P.56 Method B.\n\n"
    "This is the binding for the end-to-end calculation on a 16 kHz signal.\n\n"
    "# Arguments\n\n"
    "* `audio` - The audio signal to analyse (one-dimensional float32 array).\n\n"
    "# Returns\n\n"
    "A float: the active speech level as a mean-square energy value (0.0 when no active speech is found).";

constexpr std::array INTERNAL_FUNCTIONS{
    py::function<compute_envelope>("compute_envelope", COMPUTE_ENVELOPE_DOC),
    py::function<count_activity>("count_activity", COUNT_ACTIVITY_DOC),
    py::function<bin_interp>("bin_interp", BIN_INTERP_DOC),
    py::function<compute_asl_from_thresholds>("compute_asl_from_thresholds", COMPUTE_ASL_DOC),
};

constexpr std::array TOP_FUNCTIONS{
    py::function<asl_p56>("asl_p56", ASL_P56_DOC),
};

}  // namespace

bool register_asl_p56_internal(PyObject* top) {
    return py::add_submodule(top, "asl_p56_internal", INTERNAL_FUNCTIONS);
}

bool register_asl_p56(PyObject* top) { return py::add_functions(top, TOP_FUNCTIONS); }

}  // namespace corvala
