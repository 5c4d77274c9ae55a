// Reading host objects: attributes, dicts and their items.
#pragma once

#include <string_view>

#include "ext/py/errors.h"
#include "ext/py/python.h"
#include "ext/py/ref.h"

namespace corvala::py {

// The interned str of a name given as a literal, made once per process.
PyObject* interned(const char* name);

// A new reference to obj.name, or an empty Ref with the attribute error set.
inline Ref get_attr(PyObject* obj, const char* name) {
    PyObject* key = interned(name);
    return key ? Ref::steal(PyObject_GetAttr(obj, key)) : Ref();
}

// A dict, or the conversion TypeError naming PyDict.
bool check_dict(PyObject* obj);

// Calls fn(key, value) for every item, in iteration order, over references that stay valid
// whatever fn runs. A dict that changes size or keys meanwhile ends the walk with NativeFault.
template <typename F>
bool for_each_item(PyObject* dict, F&& fn) {
    const Py_ssize_t size = PyDict_Size(dict);
    Ref items = Ref::steal(PyDict_Items(dict));
    if (!items) return false;
    const Py_ssize_t n = PyList_Size(items.get());
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = PyList_GetItem(items.get(), i);
        if (!fn(PyTuple_GetItem(item, 0), PyTuple_GetItem(item, 1))) return false;
        if (PyDict_Size(dict) != size) {
            raise_native_fault("dictionary changed size during iteration");
            return false;
        }
    }
    for (Py_ssize_t i = 0; i < n; ++i) {
        const int present = PyDict_Contains(dict, PyTuple_GetItem(PyList_GetItem(items.get(), i), 0));
        if (present < 0) return false;
        if (present == 0) {
            raise_native_fault("dictionary keys changed during iteration");
            return false;
        }
    }
    return true;
}

}  // namespace corvala::py
