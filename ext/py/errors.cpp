#include "ext/py/errors.h"

#include <string>

#include "ext/py/ref.h"

namespace corvala::py {

namespace {

constexpr const char* NATIVE_FAULT_DOC =
    "Raised when native code called from Python faults.\n\n"
    "Like SystemExit, it derives from BaseException, not Exception, so that it normally propagates "
    "through the whole stack and ends the interpreter.";

}  // namespace

PyObject* to_str(std::string_view utf8) {
    const auto size = static_cast<Py_ssize_t>(utf8.size());
    PyObject* s = PyUnicode_DecodeUTF8(utf8.data(), size, "surrogatepass");
    if (s == nullptr) {
        // Our own texts are valid; should one not be, show it rather than fail the call over it.
        PyErr_Clear();
        s = PyUnicode_DecodeUTF8(utf8.data(), size, "replace");
    }
    return s;
}

PyObject* native_fault_type() {
    // Created with the lock held, so the first caller wins and later callers see it.
    static PyObject* type = nullptr;
    if (type == nullptr) {
        type = PyErr_NewExceptionWithDoc("corvala.ext.NativeFault", NATIVE_FAULT_DOC, PyExc_BaseException,
                                         nullptr);
    }
    return type;
}

PyObject* raise(PyObject* type, std::string_view message) {
    Ref text = Ref::steal(to_str(message));
    if (text) {
        // The exception instance is created when Python first looks at it.
        PyErr_SetObject(type, text.get());
    }
    return nullptr;
}

PyObject* raise_native_fault(std::string_view message) {
    PyObject* type = native_fault_type();
    if (type == nullptr) {
        return nullptr;
    }
    return raise(type, message);
}

PyObject* raise(const audio::EffectError& error) {
    return raise(PyExc_ValueError, audio::render(error));
}

PyObject* raise(const kernel::KernelError& error) {
    switch (error.kind) {
        case kernel::KernelErrorKind::value: return raise(PyExc_ValueError, error.message);
        case kernel::KernelErrorKind::runtime: return raise(PyExc_RuntimeError, error.message);
        case kernel::KernelErrorKind::not_implemented: return raise(PyExc_NotImplementedError, error.message);
        case kernel::KernelErrorKind::internal_fault: return raise_native_fault(error.message);
        case kernel::KernelErrorKind::host_exception:
            if (PyErr_Occurred()) return nullptr;
            return raise_native_fault("a host exception was lost");
    }
    return raise_native_fault(error.message);
}

void add_note(std::string_view note) {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return;
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) {
        PyException_SetTraceback(value, traceback);
    }
    if (value != nullptr) {
        Ref text = Ref::steal(to_str(note));
        Ref result = text ? Ref::steal(PyObject_CallMethod(value, "add_note", "O", text.get())) : Ref();
        if (!result) {
            // The note is a courtesy: keep the original exception rather than one about the note.
            PyErr_Clear();
        }
    }
    PyErr_Restore(type, value, traceback);
}

}  // namespace corvala::py
