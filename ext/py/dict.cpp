#include "ext/py/dict.h"

#include <string>
#include <unordered_map>

#include "ext/py/convert.h"

namespace corvala::py {

PyObject* interned(const char* name) {
    // Keyed by the literal's address; called with the interpreter lock held. The strings live for
    // the process, like the literals they stand for.
    static std::unordered_map<const char*, PyObject*> names;
    if (auto it = names.find(name); it != names.end()) return it->second;
    PyObject* key = PyUnicode_InternFromString(name);
    if (key != nullptr) names.emplace(name, key);
    return key;
}

bool check_dict(PyObject* obj) {
    return PyDict_Check(obj) || not_an_instance(obj, "PyDict");
}

}  // namespace corvala::py
