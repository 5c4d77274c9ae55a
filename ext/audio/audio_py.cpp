#include "ext/audio/audio_py.h"

#include <array>
#include <string>
#include <vector>

#include "ext/audio/chain.h"
#include "ext/audio/parser/parse.h"
#include "ext/py/args.h"
#include "ext/py/convert.h"
#include "ext/py/errors.h"
#include "ext/py/gil.h"
#include "ext/py/ref.h"
#include "ext/py/registry.h"

namespace corvala::audio {

namespace {

using py::Parameter;
using py::Ref;
using py::Signature;

constexpr Parameter CHAIN_PARAMS[] = {{"chain"}};
constexpr Parameter BUFFER_CHAIN_PARAMS[] = {{"buffer"}, {"chain"}};

PyObject* validate_effects_chain(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"validate_effects_chain", CHAIN_PARAMS};
    PyObject* bound[1];
    std::vector<std::string> chain;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "chain", chain)) {
        return nullptr;
    }
    Ref result = Ref::steal(PyList_New(static_cast<Py_ssize_t>(chain.size())));
    if (!result) {
        return nullptr;
    }
    for (std::size_t i = 0; i < chain.size(); ++i) {
        ParseResult parsed = parse_effect(chain[i]);
        Ref report;
        if (parsed) {
            report = Ref::steal(Py_BuildValue("(OsN)", Py_True, "OK", py::to_str(parsed->canonical)));
        } else {
            report = Ref::steal(
                Py_BuildValue("(ONN)", Py_False, py::to_str(render(parsed.error())), py::to_str(chain[i])));
        }
        if (!report) {
            return nullptr;
        }
        PyList_SetItem(result.get(), static_cast<Py_ssize_t>(i), report.release());
    }
    return result.release();
}

PyObject* apply_effects(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"apply_effects", BUFFER_CHAIN_PARAMS};
    PyObject* bound[2];
    py::ArrayArg<float> buffer;
    std::vector<std::string> chain;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "buffer", buffer) ||
        !py::arg(bound[1], "chain", chain)) {
        return nullptr;
    }
    // The scan for non-finite samples comes before parsing, so a NaN is reported first.
    auto samples = copy_finite_samples(buffer.view);
    if (!samples) {
        return py::raise(samples.error());
    }
    auto effects = parse_effect_chain(chain);
    if (!effects) {
        return py::raise(effects.error());
    }
    std::expected<SampleBuffer<float>, EffectError> result;
    {
        py::ReleasedLock unlocked;
        result = apply_chain_f32(std::move(*samples), std::move(*effects));
    }
    if (!result) {
        return py::raise(result.error());
    }
    return py::to_array(std::move(*result));
}

PyObject* apply_effects_i32(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"apply_effects_i32", BUFFER_CHAIN_PARAMS};
    PyObject* bound[2];
    py::ArrayArg<std::int32_t> buffer;
    std::vector<std::string> chain;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "buffer", buffer) ||
        !py::arg(bound[1], "chain", chain)) {
        return nullptr;
    }
    auto effects = parse_effect_chain(chain);
    if (!effects) {
        return py::raise(effects.error());
    }
    SampleBuffer<std::int32_t> samples = copy_samples(buffer.view);
    std::expected<SampleBuffer<std::int32_t>, EffectError> result;
    {
        py::ReleasedLock unlocked;
        result = apply_chain_i32(std::move(samples), std::move(*effects));
    }
    if (!result) {
        return py::raise(result.error());
    }
    return py::to_array(std::move(*result));
}

constexpr std::array FUNCTIONS{
    py::function<validate_effects_chain>("validate_effects_chain", "validate_effects_chain(chain)\n--\n\n"),
    py::function<apply_effects>("apply_effects", "apply_effects(buffer, chain)\n--\n\n"),
    py::function<apply_effects_i32>("apply_effects_i32", "apply_effects_i32(buffer, chain)\n--\n\n"),
};

}  // namespace

bool register_audio_module(PyObject* top) { return py::add_submodule(top, "audio", FUNCTIONS); }

}  // namespace corvala::audio
