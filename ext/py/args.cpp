#include "ext/py/args.h"

#include <string>
#include <vector>

#include "ext/py/errors.h"
#include "ext/py/ref.h"

namespace corvala::py {

namespace {

std::string call_name(const Signature& sig) { return std::string(sig.qualname) + "()"; }

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string name_list(const std::vector<const char*>& names) {
    std::string text;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            text += names.size() == 2 ? " and " : (i + 1 == names.size() ? ", and " : ", ");
        }
        text += "'";
        text += names[i];
        text += "'";
    }
    return text;
}

bool fail(const std::string& message) {
    raise(PyExc_TypeError, message);
    return false;
}

bool too_many_positional(const Signature& sig, std::size_t given) {
    const std::size_t self = sig.counts_self ? 1 : 0;
    std::size_t required = 0;
    for (const Parameter& p : sig.params) {
        required += p.has_default ? 0 : 1;
    }
    const std::size_t total = sig.params.size() + self;
    given += self;
    std::string message = call_name(sig) + " takes ";
    if (required < sig.params.size()) {
        message += "from " + std::to_string(required + self) + " to " + std::to_string(total) +
                   " positional arguments";
    } else {
        message += std::to_string(total) + (total == 1 ? " positional argument" : " positional arguments");
    }
    message += " but " + std::to_string(given) + (given == 1 ? " was" : " were") + " given";
    return fail(message);
}

}  // namespace

bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    const std::size_t n_params = sig.params.size();
    const auto n_pos = static_cast<std::size_t>(nargs);
    for (std::size_t i = 0; i < n_params; ++i) {
        out[i] = i < n_pos ? args[i] : nullptr;
    }

    // Keywords first, as CPython checks them before counting positional arguments.
    const Py_ssize_t n_kw = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
    std::vector<const char*> positional_only_by_keyword;
    for (Py_ssize_t k = 0; k < n_kw; ++k) {
        PyObject* key = PyTuple_GetItem(kwnames, k);
        if (key == nullptr) {
            return false;
        }
        std::size_t match = n_params;
        for (std::size_t i = 0; i < n_params; ++i) {
            if (PyUnicode_CompareWithASCIIString(key, sig.params[i].name) == 0) {
                match = i;
                break;
            }
        }
        if (match < n_params && sig.params[match].positional_only) {
            positional_only_by_keyword.push_back(sig.params[match].name);
            continue;
        }
        if (match == n_params) {
            if (!positional_only_by_keyword.empty()) {
                break;
            }
            Ref key_text = Ref::steal(PyObject_Str(key));
            const char* utf8 = key_text ? PyUnicode_AsUTF8AndSize(key_text.get(), nullptr) : nullptr;
            if (utf8 == nullptr) {
                return false;
            }
            return fail(call_name(sig) + " got an unexpected keyword argument '" + utf8 + "'");
        }
        if (out[match] != nullptr) {
            return fail(call_name(sig) + " got multiple values for argument '" + sig.params[match].name + "'");
        }
        out[match] = args[nargs + k];
    }
    if (!positional_only_by_keyword.empty()) {
        std::string names;
        for (std::size_t i = 0; i < positional_only_by_keyword.size(); ++i) {
            names += (i ? ", " : "") + std::string(positional_only_by_keyword[i]);
        }
        return fail(call_name(sig) + " got some positional-only arguments passed as keyword arguments: '" +
                    names + "'");
    }

    if (n_pos > n_params) {
        return too_many_positional(sig, n_pos);
    }

    std::vector<const char*> missing;
    for (std::size_t i = 0; i < n_params; ++i) {
        if (out[i] == nullptr && !sig.params[i].has_default) {
            missing.push_back(sig.params[i].name);
        }
    }
    if (!missing.empty()) {
        return fail(call_name(sig) + " missing " + std::to_string(missing.size()) + " required positional " +
                    (missing.size() == 1 ? "argument" : "arguments") + ": " + name_list(missing));
    }
    return true;
}

}  // namespace corvala::py
