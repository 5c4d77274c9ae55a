#include "ext/kernel/session_py.h"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "ext/audio/parser/format.h"
#include "ext/kernel/realize.h"
#include "ext/kernel/session.h"
#include "ext/kernel/store.h"
#include "ext/py/args.h"
#include "ext/py/convert.h"
#include "ext/py/dict.h"
#include "ext/py/entry.h"
#include "ext/py/errors.h"
#include "ext/py/gil.h"
#include "ext/py/ref.h"
#include "ext/py/registry.h"

namespace corvala::kernel {

namespace {

using audio::format;
using py::Ref;

struct SessionObject {
    PyObject_HEAD
    Session* session;
    PyObject* truth_callback;
    PyObject* gain_callback;
};

SessionObject* as_session(PyObject* self) { return reinterpret_cast<SessionObject*>(self); }
const Plan& plan_of(PyObject* self) { return as_session(self)->session->plan; }

// --- reading the snapshot -------------------------------------------------------------------

template <typename T>
bool read_attr(PyObject* obj, const char* name, T& out) {
    Ref value = py::get_attr(obj, name);
    return value && py::convert(value.get(), out);
}

bool read_optional_int(PyObject* obj, const char* name, std::optional<std::int64_t>& out) {
    Ref value = py::get_attr(obj, name);
    if (!value) return false;
    if (value.get() == Py_None) {
        out.reset();
        return true;
    }
    std::int64_t v = 0;
    if (!py::convert(value.get(), v)) return false;
    out = v;
    return true;
}

// A dict attribute of the snapshot.
Ref dict_attr(PyObject* obj, const char* name) {
    Ref value = py::get_attr(obj, name);
    if (!value || !py::check_dict(value.get())) return Ref();
    return value;
}

bool read_source(PyObject* key, PyObject* source, PlanSource& out) {
    if (!py::convert(key, out.category)) return false;
    Ref effects = py::get_attr(source, "effects");
    if (!effects || !read_attr(source, "file_id", out.file_id) || !read_attr(effects.get(), "pre", out.pre_effects) ||
        !read_attr(effects.get(), "post", out.post_effects)) {
        return false;
    }
    Ref loop = py::get_attr(source, "loop");
    if (!loop) return false;
    const int truthy = PyObject_IsTrue(loop.get());
    if (truthy < 0) return false;
    out.loop = truthy != 0;
    return read_attr(source, "start", out.start);
}

bool read_mixture(PyObject* record, MixturePlan& out) {
    Ref sources = dict_attr(record, "all_sources");
    if (!sources) return false;
    const bool ok = py::for_each_item(sources.get(), [&](PyObject* key, PyObject* source) {
        PlanSource s;
        if (!read_source(key, source, s)) return false;
        out.sources.push_back(std::move(s));
        return true;
    });
    return ok && read_optional_int(record, "spectral_mask_id", out.spectral_mask_id) &&
           read_attr(record, "name", out.name) && read_attr(record, "samples", out.samples) &&
           read_attr(record, "spectral_mask_seed", out.spectral_mask_seed);
}

bool intern_declared(const std::vector<std::vector<std::string>>& declared, Plan& plan,
                     std::vector<std::uint32_t>& index_of) {
    std::unordered_map<std::uint16_t, std::uint32_t> table;
    for (const auto& names : declared) {
        NodeSet set;
        for (const std::string& name : names) {
            auto node = find_node(name);
            if (!node) {
                py::raise(PyExc_ValueError, format("unknown RealizedNode in baked declaration: {}", name));
                return false;
            }
            set.add(*node);
        }
        auto [it, inserted] = table.try_emplace(set.bits(), static_cast<std::uint32_t>(plan.declared_sets.size()));
        if (inserted) plan.declared_sets.push_back(set);
        index_of.push_back(it->second);
    }
    return true;
}

bool read_source_files(PyObject* snapshot, Plan& plan) {
    Ref files = dict_attr(snapshot, "source_files_by_id");
    if (!files) return false;
    Ref host = Ref::steal(PyImport_ImportModule("corvala.utils.tokenized_shell_vars"));
    Ref expand = host ? py::get_attr(host.get(), "tokenized_expand") : Ref();
    if (!expand) return false;
    return py::for_each_item(files.get(), [&](PyObject* key, PyObject* record) {
        std::int64_t file_id = 0;
        Ref name = py::convert(key, file_id) ? py::get_attr(record, "name") : Ref();
        Ref expanded = name ? Ref::steal(PyObject_CallFunctionObjArgs(expand.get(), name.get(), nullptr)) : Ref();
        Ref zero = Ref::steal(PyLong_FromLong(0));
        Ref path = expanded && zero ? Ref::steal(PyObject_GetItem(expanded.get(), zero.get())) : Ref();
        py::PathArg text;
        if (!path || !py::convert(path.get(), text)) return false;
        plan.source_paths[file_id] = std::move(text.bytes);
        Ref configs = dict_attr(record, "truth_configs");
        if (!configs) return false;
        auto& strides = plan.truth_strides[file_id];
        return py::for_each_item(configs.get(), [&](PyObject* truth_name, PyObject* config) {
            std::string name_text, reduction;
            if (!py::convert(truth_name, name_text) || !read_attr(config, "stride_reduction", reduction)) return false;
            strides[std::move(name_text)] = std::move(reduction);
            return true;
        });
    });
}

bool read_spectral_masks(PyObject* snapshot, Plan& plan) {
    Ref masks = dict_attr(snapshot, "spectral_masks_by_id");
    if (!masks) return false;
    return py::for_each_item(masks.get(), [&](PyObject* key, PyObject* mask) {
        std::int64_t id = 0;
        SpectralMaskSpec spec;
        if (!py::convert(key, id) || !read_attr(mask, "f_max_width", spec.f_max_width) ||
            !read_attr(mask, "f_num", spec.f_num) || !read_attr(mask, "t_max_width", spec.t_max_width) ||
            !read_attr(mask, "t_num", spec.t_num) || !read_attr(mask, "t_max_percent", spec.t_max_percent)) {
            return false;
        }
        plan.spectral_masks[id] = spec;
        return true;
    });
}

bool read_ft_config(PyObject* config, audiolib::ForwardTransformConfig& out) {
    return read_attr(config, "length", out.length) && read_attr(config, "overlap", out.overlap) &&
           read_attr(config, "bin_start", out.bin_start) && read_attr(config, "bin_end", out.bin_end) &&
           read_attr(config, "ttype", out.ttype);
}

bool read_truth_parameters(PyObject* parameters, TruthParameters& out) {
    return py::for_each_item(parameters, [&](PyObject* key, PyObject* inner) {
        std::string category;
        if (!py::convert(key, category) || !py::check_dict(inner)) return false;
        auto& names = out[category];
        return py::for_each_item(inner, [&](PyObject* name, PyObject* value) {
            std::string name_text;
            if (!py::convert(name, name_text)) return false;
            std::optional<std::int64_t> v;
            if (value != Py_None) {
                std::int64_t n = 0;
                if (!py::convert(value, n)) return false;
                v = n;
            }
            names[std::move(name_text)] = v;
            return true;
        });
    });
}

// --- construction ---------------------------------------------------------------------------

constexpr py::Parameter CONSTRUCTOR_PARAMS[] = {
    {"snapshot"}, {"declared_by_mixid"}, {"truth_callback"}, {"gain_callback"}, {"ft_config"},
    {"feature_mode"}, {"truth_parameters"}, {"location"}, {"kernel_epoch"}, {"cache_bytes"},
};

PyObject* construct(PyTypeObject* type, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr py::Signature sig{"KernelSession", CONSTRUCTOR_PARAMS};
    PyObject* a[10];
    if (!py::bind(sig, args, nargs, kwnames, a)) return nullptr;
    PyObject *snapshot = a[0], *truth_callback = a[2], *gain_callback = a[3], *ft_config = a[4],
             *truth_parameters = a[6];

    std::vector<std::vector<std::string>> declared;
    Plan plan;
    std::uint64_t cache_bytes = 0;
    if (!py::arg(a[1], "declared_by_mixid", declared) || !py::arg(a[5], "feature_mode", plan.feature_mode)) {
        return nullptr;
    }
    if (!py::check_dict(truth_parameters)) {
        py::add_parameter_note("truth_parameters");
        return nullptr;
    }
    py::PathArg location;
    if (!py::arg(a[7], "location", location) ||
        !py::arg(a[8], "kernel_epoch", plan.artifacts.kernel_epoch) || !py::arg(a[9], "cache_bytes", cache_bytes)) {
        return nullptr;
    }

    plan.artifacts.location = std::move(location.bytes);

    Ref mixtures = dict_attr(snapshot, "mixtures_by_id");
    if (!mixtures) return nullptr;
    const auto count = static_cast<std::size_t>(PyDict_Size(mixtures.get()));
    if (count != declared.size()) {
        return py::raise(PyExc_ValueError, format("declared_by_mixid has {} entries but the snapshot has {} mixtures",
                                                  declared.size(), count));
    }
    std::vector<std::uint32_t> declared_index;
    if (!intern_declared(declared, plan, declared_index)) return nullptr;

    plan.mixtures.reserve(count);
    for (std::size_t m_id = 0; m_id < count; ++m_id) {
        Ref key = Ref::steal(PyLong_FromSize_t(m_id + 1));
        if (!key) return nullptr;
        Ref record = Ref::borrow(PyDict_GetItemWithError(mixtures.get(), key.get()));
        if (!record) {
            if (PyErr_Occurred()) return nullptr;
            return py::raise(PyExc_ValueError,
                             format("snapshot mixtures_by_id is missing record id {} (m_id {})", m_id + 1, m_id));
        }
        MixturePlan mixture;
        if (!read_mixture(record.get(), mixture)) return nullptr;
        mixture.declared = declared_index[m_id];
        plan.mixtures.push_back(std::move(mixture));
    }

    if (!read_source_files(snapshot, plan) || !read_spectral_masks(snapshot, plan)) return nullptr;
    plan.artifacts.plan_digest = read_plan_digest(plan.artifacts.location);
    if (!read_ft_config(ft_config, plan.ft_config) || !read_truth_parameters(truth_parameters, plan.truth_parameters)) {
        return nullptr;
    }

    auto session = std::make_unique<Session>(std::move(plan), cache_bytes);
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* self = alloc(type, 0);
    if (self == nullptr) return nullptr;
    SessionObject* obj = as_session(self);
    obj->session = session.release();
    obj->truth_callback = Py_NewRef(truth_callback);
    obj->gain_callback = Py_NewRef(gain_callback);
    return self;
}

PyObject* session_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    try {
        // Lay the call out as a fast call so that one binder serves every entry point.
        const Py_ssize_t nargs = PyTuple_Size(args);
        std::vector<PyObject*> stack;
        for (Py_ssize_t i = 0; i < nargs; ++i) stack.push_back(PyTuple_GetItem(args, i));
        Ref kwnames;
        if (kwargs != nullptr && PyDict_Size(kwargs) > 0) {
            kwnames = Ref::steal(PyTuple_New(PyDict_Size(kwargs)));
            if (!kwnames) return nullptr;
            Py_ssize_t pos = 0, k = 0;
            PyObject *key, *value;
            while (PyDict_Next(kwargs, &pos, &key, &value)) {
                PyTuple_SetItem(kwnames.get(), k++, Py_NewRef(key));
                stack.push_back(value);
            }
        }
        return construct(type, stack.data(), nargs, kwnames.get());
    } catch (...) {
        return py::fault_from_current_exception();
    }
}

int session_traverse(PyObject* self, visitproc visit, void* arg) {
    SessionObject* obj = as_session(self);
    Py_VISIT(obj->truth_callback);
    Py_VISIT(obj->gain_callback);
    Py_VISIT(reinterpret_cast<PyObject*>(Py_TYPE(self)));
    return 0;
}

int session_clear(PyObject* self) {
    SessionObject* obj = as_session(self);
    Py_CLEAR(obj->truth_callback);
    Py_CLEAR(obj->gain_callback);
    return 0;
}

void session_dealloc(PyObject* self) {
    PyObject_GC_UnTrack(self);
    session_clear(self);
    delete as_session(self)->session;
    PyTypeObject* type = Py_TYPE(self);
    auto free_fn = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_fn(self);
    Py_DECREF(type);
}

// --- accessors ------------------------------------------------------------------------------

PyObject* get_num_mixtures(PyObject* self, void*) { return PyLong_FromSize_t(plan_of(self).mixtures.size()); }
PyObject* get_kernel_epoch(PyObject* self, void*) { return PyLong_FromLongLong(plan_of(self).artifacts.kernel_epoch); }
PyObject* get_feature_mode(PyObject* self, void*) { return py::to_str(plan_of(self).feature_mode); }
PyObject* get_cache_capacity(PyObject* self, void*) {
    return PyLong_FromUnsignedLongLong(as_session(self)->session->cache.capacity());
}

PyObject* completed(PyObject* self, PyObject*) {
    return PyLong_FromUnsignedLongLong(as_session(self)->session->completed.load(std::memory_order_relaxed));
}

PyObject* ft_config(PyObject* self, PyObject*) {
    const auto& c = plan_of(self).ft_config;
    return Py_BuildValue("{sLsLsLsLsN}", "length", static_cast<long long>(c.length), "overlap",
                         static_cast<long long>(c.overlap), "bin_start", static_cast<long long>(c.bin_start),
                         "bin_end", static_cast<long long>(c.bin_end), "ttype", py::to_str(c.ttype));
}

PyObject* truth_parameters(PyObject* self, PyObject*) {
    Ref result = Ref::steal(PyDict_New());
    if (!result) return nullptr;
    for (const auto& [category, names] : plan_of(self).truth_parameters) {
        Ref inner = Ref::steal(PyDict_New());
        if (!inner) return nullptr;
        for (const auto& [name, value] : names) {
            Ref v = value ? Ref::steal(PyLong_FromLongLong(*value)) : Ref::borrow(Py_None);
            Ref key = Ref::steal(py::to_str(name));
            if (!v || !key || PyDict_SetItem(inner.get(), key.get(), v.get()) < 0) return nullptr;
        }
        Ref key = Ref::steal(py::to_str(category));
        if (!key || PyDict_SetItem(result.get(), key.get(), inner.get()) < 0) return nullptr;
    }
    return result.release();
}

constexpr py::Parameter FILE_ID_PARAMS[] = {{"file_id"}};
constexpr py::Parameter M_ID_PARAMS[] = {{"m_id"}};

PyObject* source_path(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr py::Signature sig{"KernelSession.source_path", FILE_ID_PARAMS, true};
    PyObject* a[1];
    std::int64_t file_id = 0;
    if (!py::bind(sig, args, nargs, kwnames, a) || !py::arg(a[0], "file_id", file_id)) return nullptr;
    const auto& paths = plan_of(self).source_paths;
    const auto it = paths.find(file_id);
    if (it == paths.end()) return py::raise(PyExc_ValueError, format("no source file with id {}", file_id));
    return py::path_to_str(it->second);
}

// The mixture of `m_id`, or nullptr with the out-of-range ValueError.
const MixturePlan* mixture_arg(PyObject* self, const char* qualname, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    const py::Signature sig{qualname, M_ID_PARAMS, true};
    PyObject* a[1];
    std::uint64_t m_id = 0;
    if (!py::bind(sig, args, nargs, kwnames, a) || !py::arg(a[0], "m_id", m_id)) return nullptr;
    const auto& mixtures = plan_of(self).mixtures;
    if (m_id >= mixtures.size()) {
        py::raise(PyExc_ValueError, format("m_id {} out of range (0..{})", m_id, mixtures.size()));
        return nullptr;
    }
    return &mixtures[m_id];
}

PyObject* declared_inputs(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const MixturePlan* mixture = mixture_arg(self, "KernelSession.declared_inputs", args, nargs, kwnames);
    if (mixture == nullptr) return nullptr;
    const NodeSet set = plan_of(self).declared_sets[mixture->declared];
    Ref result = Ref::steal(PyList_New(0));
    if (!result) return nullptr;
    for (std::size_t i = 0; i < NODE_COUNT; ++i) {
        if (!set.contains(static_cast<RealizedNode>(i))) continue;
        Ref name = Ref::steal(py::to_str(NODE_NAMES[i]));
        if (!name || PyList_Append(result.get(), name.get()) < 0) return nullptr;
    }
    return result.release();
}

PyObject* string_list(const std::vector<std::string>& items) {
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(items.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* text = py::to_str(items[i]);
        if (text == nullptr) return nullptr;
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), text);
    }
    return list.release();
}

PyObject* mixture_plan(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    const MixturePlan* m = mixture_arg(self, "KernelSession.mixture_plan", args, nargs, kwnames);
    if (m == nullptr) return nullptr;
    Ref sources = Ref::steal(PyList_New(0));
    if (!sources) return nullptr;
    for (const PlanSource& s : m->sources) {
        Ref source = Ref::steal(Py_BuildValue("{sNsLsNsNsOsL}", "category", py::to_str(s.category), "file_id",
                                              static_cast<long long>(s.file_id), "pre_effects",
                                              string_list(s.pre_effects), "post_effects", string_list(s.post_effects),
                                              "loop", s.loop ? Py_True : Py_False, "start",
                                              static_cast<long long>(s.start)));
        if (!source || PyList_Append(sources.get(), source.get()) < 0) return nullptr;
    }
    Ref mask_id = m->spectral_mask_id ? Ref::steal(PyLong_FromLongLong(*m->spectral_mask_id)) : Ref::borrow(Py_None);
    if (!mask_id) return nullptr;
    return Py_BuildValue("{sNsLsOsLsO}", "name", py::to_str(m->name), "samples", static_cast<long long>(m->samples),
                         "spectral_mask_id", mask_id.get(), "spectral_mask_seed",
                         static_cast<long long>(m->spectral_mask_seed), "sources", sources.get());
}

// --- realize --------------------------------------------------------------------------------

// The host side of realization: calls the gain callback with the interpreter lock taken on this
// thread, and keeps an exception the host raises until the call returns to Python.
class PyHostBridge final : public HostBridge {
public:
    explicit PyHostBridge(PyObject* gain_callback) : gain_callback_(gain_callback) {}
    ~PyHostBridge() override {
        Py_XDECREF(type_);
        Py_XDECREF(value_);
        Py_XDECREF(traceback_);
    }

    std::expected<GainsValue, KernelError> gains(std::uint64_t m_id, const SourcesValue& post) override {
        // The callback's arrays own copies; make them before taking the lock, which then only
        // wraps them.
        std::vector<audio::SampleBuffer<float>> copies;
        copies.reserve(post.size());
        for (const auto& entry : post) copies.push_back(entry.second);
        py::HeldLock lock;
        auto result = call_gain_callback(m_id, post, copies);
        if (!result && result.error().kind == KernelErrorKind::host_exception) keep_exception();
        return result;
    }

    // Restores the kept exception; false when there is none.
    bool restore() {
        if (type_ == nullptr) return false;
        PyErr_Restore(type_, value_, traceback_);
        type_ = value_ = traceback_ = nullptr;
        return true;
    }

private:
    static KernelError host_error() { return {KernelErrorKind::host_exception, {}}; }

    void keep_exception() {
        Py_XDECREF(type_);
        Py_XDECREF(value_);
        Py_XDECREF(traceback_);
        PyErr_Fetch(&type_, &value_, &traceback_);
    }

    std::expected<GainsValue, KernelError> call_gain_callback(std::uint64_t m_id, const SourcesValue& post,
                                                              std::vector<audio::SampleBuffer<float>>& copies) {
        Ref audio = Ref::steal(PyDict_New());
        if (!audio) return std::unexpected(host_error());
        for (std::size_t i = 0; i < post.size(); ++i) {
            Ref key = Ref::steal(py::to_str(post[i].first));
            Ref array = Ref::steal(py::to_array(std::move(copies[i])));
            if (!key || !array || PyDict_SetItem(audio.get(), key.get(), array.get()) < 0) {
                return std::unexpected(host_error());
            }
        }
        Ref index = Ref::steal(PyLong_FromUnsignedLongLong(m_id));
        Ref result = index ? Ref::steal(PyObject_CallFunctionObjArgs(gain_callback_, index.get(), audio.get(), nullptr))
                           : Ref();
        if (!result) return std::unexpected(host_error());
        if (!PyDict_Check(result.get())) {
            return std::unexpected(KernelError::value("gain callback must return a {category: gain} dict"));
        }
        GainsValue gains;
        for (const auto& [category, samples] : post) {
            Ref key = Ref::steal(py::to_str(category));
            if (!key) return std::unexpected(host_error());
            PyObject* value = PyDict_GetItemWithError(result.get(), key.get());
            if (value == nullptr) {
                if (PyErr_Occurred()) return std::unexpected(host_error());
                return std::unexpected(
                    KernelError::value(format("gain callback returned no gain for category '{}'", category)));
            }
            double gain = 0.0;
            if (!py::convert(value, gain)) return std::unexpected(host_error());
            gains.emplace_back(category, gain);
        }
        return gains;
    }

    PyObject* gain_callback_;
    PyObject* type_ = nullptr;
    PyObject* value_ = nullptr;
    PyObject* traceback_ = nullptr;
};

bool convert_flag(PyObject* obj, const char* name, bool& out) {
    if (obj == nullptr) return true;  // the default, False
    if (!PyBool_Check(obj)) {
        py::not_an_instance(obj, "bool");
        py::add_parameter_note(name);
        return false;
    }
    out = obj == Py_True;
    return true;
}

// The memo is dropped after the result is built, so its buffers move into the arrays.
PyObject* array_dict(SourcesValue& sources) {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    for (auto& [category, samples] : sources) {
        Ref key = Ref::steal(py::to_str(category));
        Ref array = Ref::steal(py::to_array(std::move(samples)));
        if (!key || !array || PyDict_SetItem(dict.get(), key.get(), array.get()) < 0) return nullptr;
    }
    return dict.release();
}

PyObject* result_dict(Realized& r, NodeSet want) {
    Ref result = Ref::steal(PyDict_New());
    if (!result) return nullptr;
    for (RealizedNode node : REALIZATION_ORDER) {
        if (!want.contains(node)) continue;
        Ref value;
        switch (node) {
            case RealizedNode::sources: value = Ref::steal(array_dict(*r.sources)); break;
            case RealizedNode::gains: {
                value = Ref::steal(PyDict_New());
                for (const auto& [category, gain] : *r.gains) {
                    Ref key = Ref::steal(py::to_str(category));
                    Ref g = Ref::steal(PyFloat_FromDouble(gain));
                    if (!value || !key || !g || PyDict_SetItem(value.get(), key.get(), g.get()) < 0) return nullptr;
                }
                break;
            }
            case RealizedNode::source: value = Ref::steal(py::to_array(std::move(*r.source))); break;
            case RealizedNode::noise: value = Ref::steal(py::to_array(std::move(*r.noise))); break;
            case RealizedNode::mixture_audio: value = Ref::steal(py::to_array(std::move(*r.mixture_audio))); break;
            default: return py::raise_native_fault(format("node '{}' was realized without a value", node_name(node)));
        }
        Ref key = Ref::steal(py::to_str(node_name(node)));
        if (!value || !key || PyDict_SetItem(result.get(), key.get(), value.get()) < 0) return nullptr;
    }
    return result.release();
}

constexpr py::Parameter REALIZE_PARAMS[] = {{"m_id"}, {"want"}, {"force", true}, {"cache", true}};

PyObject* realize_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr py::Signature sig{"KernelSession.realize", REALIZE_PARAMS, true};
    PyObject* a[4];
    std::uint64_t m_id = 0;
    std::vector<std::string> names;
    bool force = false, cache = false;
    if (!py::bind(sig, args, nargs, kwnames, a) || !py::arg(a[0], "m_id", m_id) || !py::arg(a[1], "want", names) ||
        !convert_flag(a[2], "force", force) || !convert_flag(a[3], "cache", cache)) {
        return nullptr;
    }
    NodeSet want;
    for (const std::string& name : names) {
        auto node = find_node(name);
        if (!node) return py::raise(PyExc_ValueError, format("unknown RealizedNode: {}", name));
        want.add(*node);
    }
    SessionObject* obj = as_session(self);
    PyHostBridge host(obj->gain_callback);
    std::expected<Realized, KernelError> realized;
    {
        py::ReleasedLock unlocked;
        realized = realize(*obj->session, host, m_id, want, force, cache);
    }
    if (!realized) {
        if (realized.error().kind == KernelErrorKind::host_exception && host.restore()) return nullptr;
        return py::raise(realized.error());
    }
    return result_dict(*realized, want);
}

// --- the type -------------------------------------------------------------------------------

template <PyObject* (*Impl)(PyObject*, PyObject*)>
PyObject* noargs_entry(PyObject* self, PyObject* unused) noexcept {
    try {
        return Impl(self, unused);
    } catch (...) {
        return py::fault_from_current_exception();
    }
}

template <PyObject* (*Impl)(PyObject*, void*)>
PyObject* getter_entry(PyObject* self, void* closure) noexcept {
    try {
        return Impl(self, closure);
    } catch (...) {
        return py::fault_from_current_exception();
    }
}

PyCFunction fast(py::FastCall f) { return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f)); }

constexpr const char* REALIZE_DOC =
    "realize($self, m_id, want, force=False, cache=False)\n--\n\n"
    "Realize the nodes named in `want` (a list of node names) for mixture `m_id`.\n\n"
    "Every node is supported: the time-domain nodes sources, source, noise and mixture_audio; the\n"
    "transform-domain nodes sources_f, source_f, noise_f and mixture_audio_f; the truth and feature\n"
    "nodes truth_t, segsnr_t, segsnr, feature and truth_f; and gains. An unknown name raises\n"
    "ValueError; a mixture with impulse-response effects raises NotImplementedError.\n\n"
    "Computation and the cache read-through and write-back run with the interpreter lock released on\n"
    "the calling thread, except the spans the host callbacks need; results are converted under the\n"
    "lock. sources is a dict of category to a 1-D float32 array, gains a dict of category to float,\n"
    "source, noise and mixture_audio 1-D float32 arrays.\n\n"
    "`force` recomputes past any cached value; `cache` writes computed misses back as artifacts.";

PyMethodDef METHODS[] = {
    {"completed", noargs_entry<completed>, METH_NOARGS,
     "completed($self)\n--\n\nThe count of successfully finished `realize` calls, readable without the "
     "interpreter lock."},
    {"ft_config", noargs_entry<ft_config>, METH_NOARGS,
     "ft_config($self)\n--\n\nThe forward-transform config as `{length, overlap, bin_start, bin_end, ttype}`."},
    {"truth_parameters", noargs_entry<truth_parameters>, METH_NOARGS,
     "truth_parameters($self)\n--\n\nThe frozen feature `truth_parameters` map, rebuilt as a nested dict."},
    {"source_path", fast(&py::entry<source_path>), METH_FASTCALL | METH_KEYWORDS,
     "source_path($self, file_id)\n--\n\nThe decoded-audio path frozen for `file_id`."},
    {"declared_inputs", fast(&py::entry<declared_inputs>), METH_FASTCALL | METH_KEYWORDS,
     "declared_inputs($self, m_id)\n--\n\nThe mixture's declared-input set as node names, in the vocabulary's\n"
     "index order (the host's own function for it returns an unordered set)."},
    {"mixture_plan", fast(&py::entry<mixture_plan>), METH_FASTCALL | METH_KEYWORDS,
     "mixture_plan($self, m_id)\n--\n\nThe plan extracted for `m_id`, as a dict mirroring the snapshot fields:\n"
     "name, samples, the ordered sources,\nand the spectral-mask id and seed."},
    {"realize", fast(&py::entry<realize_method>), METH_FASTCALL | METH_KEYWORDS, REALIZE_DOC},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef GETSET[] = {
    {"num_mixtures", getter_entry<get_num_mixtures>, nullptr, "Number of mixtures whose plan is frozen in the session.",
     nullptr},
    {"kernel_epoch", getter_entry<get_kernel_epoch>, nullptr, "The kernel epoch frozen at construction.", nullptr},
    {"feature_mode", getter_entry<get_feature_mode>, nullptr, "The feature generator's mode string.", nullptr},
    {"cache_capacity_bytes", getter_entry<get_cache_capacity>, nullptr, "The source-audio LRU's frozen byte budget.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char* CLASS_DOC =
    "KernelSession(snapshot, declared_by_mixid, truth_callback, gain_callback, ft_config, feature_mode, "
    "truth_parameters, location, kernel_epoch, cache_bytes)\n--\n\n"
    "A per-mixture realization compute session, frozen at construction.\n\n"
    "The plan, the store handle and the source-audio cache are fixed when the session is opened;\n"
    "`realize` then realizes nodes over them.";

PyType_Slot SLOTS[] = {
    {Py_tp_new, reinterpret_cast<void*>(session_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(session_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(session_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(session_clear)},
    {Py_tp_methods, METHODS},
    {Py_tp_getset, GETSET},
    {Py_tp_doc, const_cast<char*>(CLASS_DOC)},
    {0, nullptr},
};

PyType_Spec SPEC = {
    "corvala.ext.KernelSession", sizeof(SessionObject), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_IMMUTABLETYPE, SLOTS,
};

// Created once per process, on first use; later registrations share it.
PyObject* session_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) type = PyType_FromSpec(&SPEC);
    return type;
}

}  // namespace

bool register_kernel_session(PyObject* top) {
    PyObject* type = session_type();
    if (type == nullptr) return false;
    return py::add_item(top, "KernelSession", Py_NewRef(type));
}

}  // namespace corvala::kernel
