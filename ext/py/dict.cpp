#include "ext/py/dict.h"

#include <string>

#include "ext/audio/parser/format.h"

namespace corvala::py {

bool check_dict(PyObject* obj) {
    if (PyDict_Check(obj)) return true;
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
    const char* utf8 = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
    if (utf8 == nullptr) PyErr_Clear();
    raise(PyExc_TypeError, audio::format("'{}' object is not an instance of 'PyDict'", utf8 ? utf8 : "object"));
    return false;
}

}  // namespace corvala::py
