#include "ext/py/convert.h"

#include <limits>
#include <memory>
#include <string>

#include "ext/audio/parser/format.h"
#include "ext/py/errors.h"
#include "ext/py/numpy.h"

namespace corvala::py {

std::string type_name(PyObject* obj) {
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
    const char* utf8 = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
    if (utf8 == nullptr) {
        PyErr_Clear();
        return "object";
    }
    return utf8;
}

namespace {

bool not_an_instance(const std::string& actual, std::string_view expected) {
    raise(PyExc_TypeError, audio::format("'{}' object is not an instance of '{}'", actual, expected));
    return false;
}

// "ndarray[float64, ndim=2]": enough to see what was passed instead.
std::string describe_array(PyObject* obj) {
    auto* arr = reinterpret_cast<PyArrayObject*>(obj);
    std::string dtype = "?";
    Ref text = Ref::steal(PyObject_Str(reinterpret_cast<PyObject*>(PyArray_DESCR(arr))));
    if (const char* utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr) {
        dtype = utf8;
    } else {
        PyErr_Clear();
    }
    return audio::format("{}[{}, ndim={}]", type_name(obj), dtype, PyArray_NDIM(arr));
}

template <typename T>
bool convert_array(PyObject* obj, ArrayArg<T>& out, int type_num, std::string_view expected) {
    if (!ensure_numpy()) {
        return false;
    }
    if (!PyArray_Check(obj)) {
        return not_an_instance(type_name(obj), expected);
    }
    auto* arr = reinterpret_cast<PyArrayObject*>(obj);
    PyArray_Descr* want = PyArray_DescrFromType(type_num);
    if (want == nullptr) {
        return false;
    }
    const bool same_type = PyArray_EquivTypes(PyArray_DESCR(arr), want) != 0;
    Py_DECREF(want);
    if (PyArray_NDIM(arr) != 1 || !same_type) {
        return not_an_instance(describe_array(obj), expected);
    }
    out.array = Ref::borrow(obj);
    out.view.data = static_cast<const std::byte*>(PyArray_DATA(arr));
    out.view.length = static_cast<std::size_t>(PyArray_DIM(arr, 0));
    out.view.byte_stride = static_cast<std::ptrdiff_t>(PyArray_STRIDE(arr, 0));
    return true;
}

template <typename T>
void free_buffer(PyObject* capsule) {
    delete static_cast<audio::SampleBuffer<T>*>(PyCapsule_GetPointer(capsule, "corvala.ext.buffer"));
}

template <typename T>
PyObject* make_array(audio::SampleBuffer<T>&& buffer, int type_num) {
    if (!ensure_numpy()) {
        return nullptr;
    }
    npy_intp dims[1] = {static_cast<npy_intp>(buffer.size())};
    npy_intp strides[1] = {static_cast<npy_intp>(sizeof(T))};
    PyArray_Descr* descr = PyArray_DescrFromType(type_num);
    if (descr == nullptr) {
        return nullptr;
    }
    if (buffer.empty()) {
        // NumPy allocates the (empty) data itself.
        return PyArray_NewFromDescr(&PyArray_Type, descr, 1, dims, strides, nullptr, NPY_ARRAY_WRITEABLE,
                                    nullptr);
    }
    auto owned = std::make_unique<audio::SampleBuffer<T>>(std::move(buffer));
    void* data = owned->data();
    Ref base = Ref::steal(PyCapsule_New(owned.get(), "corvala.ext.buffer", free_buffer<T>));
    if (!base) {
        Py_DECREF(descr);
        return nullptr;
    }
    owned.release();  // the capsule frees it now
    Ref array = Ref::steal(
        PyArray_NewFromDescr(&PyArray_Type, descr, 1, dims, strides, data, NPY_ARRAY_WRITEABLE, nullptr));
    if (!array) {
        return nullptr;
    }
    if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(array.get()), base.release()) < 0) {
        return nullptr;
    }
    return array.release();
}

}  // namespace

bool not_an_instance(PyObject* obj, std::string_view expected) { return not_an_instance(type_name(obj), expected); }

void add_parameter_note(std::string_view name) { add_note(audio::format("while processing '{}'", name)); }

bool convert(PyObject* obj, double& out) {
    const double v = PyFloat_AsDouble(obj);
    if (v == -1.0 && PyErr_Occurred()) {
        return false;
    }
    out = v;
    return true;
}

bool convert(PyObject* obj, std::int64_t& out) {
    const long long v = PyLong_AsLongLong(obj);
    if (v == -1 && PyErr_Occurred()) {
        return false;
    }
    out = v;
    return true;
}

bool convert(PyObject* obj, std::uint64_t& out) {
    Ref index = Ref::steal(PyNumber_Index(obj));
    if (!index) {
        return false;
    }
    const unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return false;
    }
    out = v;
    return true;
}

bool convert(PyObject* obj, std::string& out) {
    if (!PyUnicode_Check(obj)) {
        return not_an_instance(type_name(obj), "str");
    }
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size)) {
        out.assign(utf8, static_cast<std::size_t>(size));
        return true;
    }
    // Lone surrogates have no UTF-8 form; keep them encoded so that the text round-trips.
    PyErr_Clear();
    Ref bytes = Ref::steal(PyUnicode_AsEncodedString(obj, "utf-8", "surrogatepass"));
    if (!bytes) {
        return false;
    }
    char* data = nullptr;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) {
        return false;
    }
    out.assign(data, static_cast<std::size_t>(size));
    return true;
}

bool convert(PyObject* obj, PathArg& out) {
    if (!PyUnicode_Check(obj)) {
        return not_an_instance(type_name(obj), "str");
    }
    Ref bytes = Ref::steal(PyUnicode_EncodeFSDefault(obj));
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!bytes || PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) {
        return false;
    }
    out.bytes.assign(data, static_cast<std::size_t>(size));
    return true;
}

PyObject* path_to_str(std::string_view bytes) {
    return PyUnicode_DecodeFSDefaultAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
}

namespace {

// Iterates any sequence except a str, converting every item with `item`.
template <typename T>
bool convert_sequence(PyObject* obj, std::vector<T>& out) {
    if (PyUnicode_Check(obj)) {
        raise(PyExc_TypeError, "'str' object cannot be taken as a sequence of strings");
        return false;
    }
    if (!PySequence_Check(obj)) {
        return not_an_instance(type_name(obj), "Sequence");
    }
    Ref iterator = Ref::steal(PyObject_GetIter(obj));
    if (!iterator) {
        return false;
    }
    out.clear();
    const Py_ssize_t hint = PySequence_Size(obj);
    if (hint > 0) {
        out.reserve(static_cast<std::size_t>(hint));
    } else if (hint < 0) {
        PyErr_Clear();
    }
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        T value;
        if (!convert(item.get(), value)) {
            return false;
        }
        out.push_back(std::move(value));
    }
    return !PyErr_Occurred();
}

}  // namespace

bool convert(PyObject* obj, std::vector<std::string>& out) { return convert_sequence(obj, out); }

bool convert(PyObject* obj, std::vector<std::vector<std::string>>& out) { return convert_sequence(obj, out); }

bool convert(PyObject* obj, ArrayArg<float>& out) {
    return convert_array(obj, out, NPY_FLOAT32, "ndarray[float32, ndim=1]");
}

bool convert(PyObject* obj, ArrayArg<std::int32_t>& out) {
    return convert_array(obj, out, NPY_INT, "ndarray[int32, ndim=1]");
}

PyObject* to_array(audio::SampleBuffer<float>&& buffer) { return make_array(std::move(buffer), NPY_FLOAT32); }

PyObject* to_array(audio::SampleBuffer<std::int32_t>&& buffer) { return make_array(std::move(buffer), NPY_INT); }

}  // namespace corvala::py
