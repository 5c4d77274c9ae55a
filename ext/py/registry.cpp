#include "ext/py/registry.h"

#include <deque>

#include "ext/py/ref.h"

namespace corvala::py {

namespace {

// Method records of every function created, kept for the life of the process as CPython needs.
std::deque<PyMethodDef>& method_records() {
    static std::deque<PyMethodDef> records;
    return records;
}

}  // namespace

bool add_item(PyObject* module, const char* name, PyObject* value) {
    Ref owned = Ref::steal(value);
    if (!owned) {
        return false;
    }
    Ref all;
    if (PyObject_HasAttrString(module, "__all__")) {
        all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
    } else {
        all = Ref::steal(PyList_New(0));
        if (all && PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
            return false;
        }
    }
    if (!all) {
        return false;
    }
    Ref item_name = Ref::steal(PyUnicode_FromString(name));
    if (!item_name || PyList_Append(all.get(), item_name.get()) < 0) {
        return false;
    }
    return PyObject_SetAttrString(module, name, owned.get()) == 0;
}

bool add_functions(PyObject* module, std::span<const FunctionDef> functions) {
    Ref module_name = Ref::steal(PyObject_GetAttrString(module, "__name__"));
    if (!module_name) {
        return false;
    }
    for (const FunctionDef& def : functions) {
        PyMethodDef& record = method_records().emplace_back(PyMethodDef{
            def.name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(def.call)),
            METH_FASTCALL | METH_KEYWORDS, def.doc});
        if (!add_item(module, def.name, PyCFunction_NewEx(&record, nullptr, module_name.get()))) {
            return false;
        }
    }
    return true;
}

bool add_submodule(PyObject* parent, const char* name, std::span<const FunctionDef> functions,
                   bool (*populate)(PyObject* module)) {
    Ref module = Ref::steal(PyModule_New(name));
    if (!module) {
        return false;
    }
    if (populate != nullptr && !populate(module.get())) {
        return false;
    }
    if (!add_functions(module.get(), functions)) {
        return false;
    }
    return add_item(parent, name, module.release());
}

}  // namespace corvala::py
