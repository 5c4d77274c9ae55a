#include "ext/data_io_py.h"

#include <array>
#include <string_view>
#include <utility>

#include "ext/audio/parser/format.h"
#include "ext/kernel/store.h"
#include "ext/py/args.h"
#include "ext/py/convert.h"
#include "ext/py/errors.h"
#include "ext/py/registry.h"

namespace corvala::kernel {

namespace {

using py::Parameter;
using py::Ref;
using py::Signature;

constexpr std::string_view VALUE_TENSOR = "__value__";

// The NumPy type codes of the dtypes the cache converts: written from "b1" etc. once the
// byte-order character is stripped, read back with these type strings.
struct NumpyType {
    Dtype dtype;
    std::string_view code;
    const char* read_type;
};

constexpr std::array<NumpyType, 13> NUMPY_TYPES{{
    {Dtype::BOOL, "b1", "|b1"}, {Dtype::U8, "u1", "|u1"},  {Dtype::I8, "i1", "|i1"},  {Dtype::I16, "i2", "<i2"},
    {Dtype::U16, "u2", "<u2"},  {Dtype::F16, "f2", "<f2"}, {Dtype::I32, "i4", "<i4"}, {Dtype::U32, "u4", "<u4"},
    {Dtype::F32, "f4", "<f4"},  {Dtype::C64, "c8", "<c8"}, {Dtype::F64, "f8", "<f8"}, {Dtype::I64, "i8", "<i8"},
    {Dtype::U64, "u8", "<u8"},
}};

const char* read_type(Dtype dtype) {
    for (const NumpyType& t : NUMPY_TYPES) {
        if (t.dtype == dtype) return t.read_type;
    }
    return nullptr;
}

std::optional<Dtype> write_dtype(std::string_view type_string) {
    std::string_view code = type_string;
    if (!code.empty() && std::string_view("<=|>").find(code.front()) != std::string_view::npos) {
        code.remove_prefix(1);
    }
    for (const NumpyType& t : NUMPY_TYPES) {
        if (t.code == code) return t.dtype;
    }
    return std::nullopt;
}


// Names and text leaves go into JSON and UTF-8 tensors: a str that has no UTF-8 form (a lone
// surrogate) fails here with its UnicodeEncodeError instead of writing an unreadable artifact.
bool strict_utf8(PyObject* obj, std::string_view& out) {
    if (!PyUnicode_Check(obj)) {
        return py::not_an_instance(obj, "str");
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
    if (utf8 == nullptr) {
        return false;
    }
    out = std::string_view(utf8, static_cast<std::size_t>(size));
    return true;
}

Ref import_numpy() { return Ref::steal(PyImport_ImportModule("numpy")); }

std::optional<std::string> str_attribute(PyObject* obj, const char* name) {
    Ref value = Ref::steal(PyObject_GetAttrString(obj, name));
    if (!value) return std::nullopt;
    std::string_view text;
    if (!strict_utf8(value.get(), text)) return std::nullopt;
    return std::string(text);
}

// --- the write conversion ---

class ItemWriter {
public:
    ItemWriter(PyObject* numpy, ItemTensors& out) : numpy_(numpy), out_(out) {}

    bool leaf(PyObject* value, std::string name) {
        const std::string& stored = out_.names.emplace_back(std::move(name));
        if (PyUnicode_Check(value)) {
            std::string_view text;
            if (!strict_utf8(value, text)) return false;
            out_.keep.push_back(Ref::borrow(value));
            const auto& shape = out_.shapes.emplace_back(std::vector<std::uint64_t>{text.size()});
            out_.tensors.push_back(TensorData{stored, Dtype::U8, shape, std::as_bytes(std::span(text))});
            out_.str_keys.push_back(stored);
            return true;
        }
        Ref array = Ref::steal(PyObject_CallMethod(numpy_, "asarray", "(O)", value));
        if (!array) return false;
        Ref descr = Ref::steal(PyObject_GetAttrString(array.get(), "dtype"));
        if (!descr) return false;
        auto type_string = str_attribute(descr.get(), "str");
        if (!type_string) return false;
        if (type_string->starts_with('>')) {
            type_string->front() = '<';
            array = Ref::steal(PyObject_CallMethod(array.get(), "astype", "s", type_string->c_str()));
            if (!array) return false;
        }
        const auto dtype = write_dtype(*type_string);
        if (!dtype) {
            py::raise(PyExc_ValueError, "unsupported numpy dtype for safetensors cache: " + *type_string);
            return false;
        }
        Ref shape_tuple = Ref::steal(PyObject_GetAttrString(array.get(), "shape"));
        if (!shape_tuple) return false;
        const Py_ssize_t rank = PySequence_Size(shape_tuple.get());
        if (rank < 0) return false;
        auto& shape = out_.shapes.emplace_back();
        for (Py_ssize_t i = 0; i < rank; ++i) {
            Ref dim = Ref::steal(PySequence_GetItem(shape_tuple.get(), i));
            std::uint64_t n = 0;
            if (!dim || !py::convert(dim.get(), n)) return false;
            shape.push_back(n);
        }
        // A C-contiguous array already holds the bytes tobytes() would copy out: write them as
        // they are.
        const auto expected_size = tensor_byte_size(*dtype, shape);
        HeldBuffer& held = out_.views.emplace_back();
        if (PyObject_GetBuffer(array.get(), &held.view, PyBUF_C_CONTIGUOUS) == 0) {
            held.held = true;
            if (expected_size && static_cast<std::uint64_t>(held.view.len) == *expected_size) {
                out_.tensors.push_back(TensorData{
                    stored, *dtype, shape,
                    std::span(static_cast<const std::byte*>(held.view.buf), static_cast<std::size_t>(held.view.len))});
                return true;
            }
        } else {
            PyErr_Clear();
        }
        Ref bytes = Ref::steal(PyObject_CallMethod(array.get(), "tobytes", nullptr));
        if (!bytes) return false;
        char* data = nullptr;
        Py_ssize_t size = 0;
        if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return false;
        out_.keep.push_back(std::move(bytes));
        out_.tensors.push_back(
            TensorData{stored, *dtype, shape, std::as_bytes(std::span(data, static_cast<std::size_t>(size)))});
        return true;
    }

private:
    PyObject* numpy_;
    ItemTensors& out_;
};

// One dict being walked: a snapshot of its items, so that code run by a leaf's conversion
// cannot change what is iterated.
struct Frame {
    Ref dict;
    Ref items;
    Py_ssize_t next = 0;
    std::string prefix;
    bool top = false;
};

bool walk_dict(ItemWriter& writer, PyObject* dict) {
    std::vector<Frame> stack;
    stack.push_back(Frame{Ref::borrow(dict), Ref::steal(PyDict_Items(dict)), 0, {}, true});
    if (!stack.back().items) return false;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == PyList_Size(frame.items.get())) {
            stack.pop_back();
            continue;
        }
        PyObject* pair = PyList_GetItem(frame.items.get(), frame.next++);
        Ref key = Ref::borrow(PyTuple_GetItem(pair, 0));
        Ref value = Ref::borrow(PyTuple_GetItem(pair, 1));
        std::string_view key_text;
        if (!strict_utf8(key.get(), key_text)) return false;
        std::string name = frame.top ? std::string(key_text) : frame.prefix + "/" + std::string(key_text);
        if (!PyDict_Check(value.get())) {
            if (!writer.leaf(value.get(), std::move(name))) return false;
            continue;
        }
        // A dict that contains itself would be walked forever.
        for (const Frame& outer : stack) {
            if (outer.dict.get() == value.get()) {
                py::raise(PyExc_ValueError, "circular reference in cache item at: " + name);
                return false;
            }
        }
        Ref items = Ref::steal(PyDict_Items(value.get()));
        if (!items) return false;
        stack.push_back(Frame{std::move(value), std::move(items), 0, std::move(name), false});
    }
    return true;
}

// --- the read conversion ---

PyObject* tensor_value(PyObject* numpy, const ArtifactHit& hit, const TensorEntry& tensor, PyObject* file) {
    const auto data = hit.data(tensor);
    if (hit.is_text(tensor.name)) {
        PyObject* text = PyUnicode_DecodeUTF8(reinterpret_cast<const char*>(data.data()),
                                              static_cast<Py_ssize_t>(data.size()), "strict");
        if (text == nullptr) {
            PyErr_Clear();
            return py::raise(PyExc_ValueError, "invalid UTF-8 in cached str tensor: " + tensor.name);
        }
        return text;
    }
    const char* type = read_type(tensor.dtype);
    if (type == nullptr) {
        return py::raise(PyExc_ValueError,
                         "unsupported safetensors dtype for cache read: " + std::string(dtype_name(tensor.dtype)));
    }
    const auto count = static_cast<Py_ssize_t>(data.size() / (dtype_bits(tensor.dtype) / 8));
    Ref flat;
    if (file != nullptr) {
        const auto offset = static_cast<Py_ssize_t>(hit.header.data_start + tensor.begin);
        flat = Ref::steal(PyObject_CallMethod(numpy, "frombuffer", "Osnn", file, type, count, offset));
    } else {
        Ref bytes = Ref::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(data.data()),
                                                         static_cast<Py_ssize_t>(data.size())));
        if (!bytes) return nullptr;
        flat = Ref::steal(PyObject_CallMethod(numpy, "frombuffer", "Os", bytes.get(), type));
    }
    if (!flat) return nullptr;
    Ref shape = Ref::steal(PyTuple_New(static_cast<Py_ssize_t>(tensor.shape.size())));
    if (!shape) return nullptr;
    for (std::size_t i = 0; i < tensor.shape.size(); ++i) {
        PyObject* dim = PyLong_FromUnsignedLongLong(tensor.shape[i]);
        if (dim == nullptr) return nullptr;
        PyTuple_SetItem(shape.get(), static_cast<Py_ssize_t>(i), dim);
    }
    Ref shaped = Ref::steal(PyObject_CallMethod(flat.get(), "reshape", "(O)", shape.get()));
    if (!shaped) return nullptr;
    // A copy owns its memory, so nothing read here keeps the file alive.
    return PyObject_CallMethod(shaped.get(), tensor.shape.empty() ? "item" : "copy", nullptr);
}

// Splits at every "/"; empty components stay (a//b gives a, "", b).
std::vector<std::string_view> path_components(std::string_view name) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t slash = name.find('/', start);
        parts.push_back(name.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start));
        if (slash == std::string_view::npos) return parts;
        start = slash + 1;
    }
}

// --- the functions of the submodule ---

constexpr Parameter CACHE_PARAMS[] = {{"location"}, {"name"}, {"index"}, {"items"}, {"kernel_epoch"}};

PyObject* read_cached_data(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"read_cached_data", CACHE_PARAMS};
    PyObject* bound[5];
    std::string location;
    std::string name;
    std::string index;
    std::vector<std::string> items;
    std::int64_t kernel_epoch = 0;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "location", location) ||
        !py::arg(bound[1], "name", name) || !py::arg(bound[2], "index", index) ||
        !py::arg(bound[3], "items", items) || !py::arg(bound[4], "kernel_epoch", kernel_epoch)) {
        return nullptr;
    }
    const ArtifactContext context = make_artifact_context(std::move(location), kernel_epoch);
    Ref result = Ref::steal(PyDict_New());
    if (!result) return nullptr;
    for (const std::string& item : items) {
        BytesFileStorage storage;
        auto read = read_artifact(context, name, index, item, storage.allocator());
        if (!read) {
            return py::raise(read.error());
        }
        Ref value = *read ? Ref::steal(artifact_value(**read, storage.bytes())) : Ref::borrow(Py_None);
        Ref key = Ref::steal(py::to_str(item));
        if (!value || !key || PyDict_SetItem(result.get(), key.get(), value.get()) < 0) {
            return nullptr;
        }
    }
    return result.release();
}

PyObject* write_cached_data(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    static constexpr Signature sig{"write_cached_data", CACHE_PARAMS};
    PyObject* bound[5];
    std::string location;
    std::string name;
    std::string index;
    std::int64_t kernel_epoch = 0;
    if (!py::bind(sig, args, nargs, kwnames, bound) || !py::arg(bound[0], "location", location) ||
        !py::arg(bound[1], "name", name) || !py::arg(bound[2], "index", index)) {
        return nullptr;
    }
    PyObject* items = bound[3];
    if (!PyDict_Check(items)) {
        py::not_an_instance(items, "dict");
        py::add_parameter_note("items");
        return nullptr;
    }
    if (!py::arg(bound[4], "kernel_epoch", kernel_epoch)) {
        return nullptr;
    }
    const ArtifactContext context = make_artifact_context(std::move(location), kernel_epoch);
    Ref pairs = Ref::steal(PyDict_Items(items));
    if (!pairs) return nullptr;
    for (Py_ssize_t i = 0; i < PyList_Size(pairs.get()); ++i) {
        PyObject* pair = PyList_GetItem(pairs.get(), i);
        std::string item;
        if (!py::arg(PyTuple_GetItem(pair, 0), "items", item)) {
            return nullptr;
        }
        ItemTensors tensors;
        if (!item_tensors(PyTuple_GetItem(pair, 1), tensors)) {
            return nullptr;
        }
        auto written = write_artifact(context, name, index, item, tensors.tensors, tensors.str_keys);
        if (!written) {
            return py::raise(written.error());
        }
    }
    Py_RETURN_NONE;
}

constexpr std::array FUNCTIONS{
    py::function<read_cached_data>(
        "read_cached_data",
        "read_cached_data(location, name, index, items, kernel_epoch)\n--\n\n"
        "Read cached data from content-addressed, versioned safetensors artifacts.\n\n"
        "A missing, key-mismatched (stale config or kernel epoch), or unparsable\n"
        "(corrupt) artifact reads as `None` for that item rather than raising."),
    py::function<write_cached_data>(
        "write_cached_data",
        "write_cached_data(location, name, index, items, kernel_epoch)\n--\n\n"
        "Write data to content-addressed safetensors artifacts, one atomic file per item."),
};

bool add_constants(PyObject* module) {
    return py::add_item(module, "KERNEL_EPOCH", PyLong_FromLongLong(KERNEL_EPOCH));
}

}  // namespace

FileAllocator BytesFileStorage::allocator() {
    return [this](std::size_t size) -> std::byte* {
        if (size > static_cast<std::size_t>(PY_SSIZE_T_MAX)) return nullptr;
        bytes_ = Ref::steal(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
        if (!bytes_) {
            PyErr_Clear();  // reported by the reader as an allocation failure
            return nullptr;
        }
        return reinterpret_cast<std::byte*>(PyBytes_AsString(bytes_.get()));
    };
}

PyObject* artifact_value(const ArtifactHit& hit, PyObject* file) {
    Ref numpy = import_numpy();
    if (!numpy) return nullptr;
    const auto& tensors = hit.tensors();
    if (tensors.size() == 1 && tensors.front().name == VALUE_TENSOR) {
        return tensor_value(numpy.get(), hit, tensors.front(), file);
    }
    Ref root = Ref::steal(PyDict_New());
    if (!root) return nullptr;
    for (const TensorEntry& tensor : tensors) {
        const auto parts = path_components(tensor.name);
        PyObject* dict = root.get();
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            Ref key = Ref::steal(py::to_str(parts[i]));
            if (!key) return nullptr;
            PyObject* child = PyDict_GetItemWithError(dict, key.get());
            if (child == nullptr) {
                if (PyErr_Occurred()) return nullptr;
                Ref made = Ref::steal(PyDict_New());
                if (!made || PyDict_SetItem(dict, key.get(), made.get()) < 0) return nullptr;
                child = made.get();  // the parent dict holds it now
            } else if (!PyDict_Check(child)) {
                py::not_an_instance(child, "dict");
                return nullptr;
            }
            dict = child;
        }
        Ref value = Ref::steal(tensor_value(numpy.get(), hit, tensor, file));
        Ref key = Ref::steal(py::to_str(parts.back()));
        if (!value || !key || PyDict_SetItem(dict, key.get(), value.get()) < 0) return nullptr;
    }
    return root.release();
}

bool item_tensors(PyObject* value, ItemTensors& out) {
    Ref numpy = import_numpy();
    if (!numpy) return false;
    ItemWriter writer(numpy.get(), out);
    if (PyDict_Check(value)) {
        return walk_dict(writer, value);
    }
    return writer.leaf(value, std::string(VALUE_TENSOR));
}

bool register_data_io_module(PyObject* top) { return py::add_submodule(top, "data_io", FUNCTIONS, add_constants); }

}  // namespace corvala::kernel
