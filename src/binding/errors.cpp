#include "binding/errors.hpp"

namespace tarnvel::py {

std::string format(std::string_view fmt, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(fmt.size() + 32);
    auto it = args.begin();
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        if (fmt[i] == '{' && i + 1 < fmt.size() && fmt[i + 1] == '}' && it != args.end()) {
            out.append(*it++);
            ++i;
        } else {
            out.push_back(fmt[i]);
        }
    }
    return out;
}

std::string type_qualname(PyObject* obj) {
    PyObject* name =
        PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__");
    std::string result = kMsgUnknownTypeName;
    if (name && PyUnicode_Check(name)) {
        Py_ssize_t len = 0;
        if (const char* s = PyUnicode_AsUTF8AndSize(name, &len))
            result.assign(s, static_cast<std::size_t>(len));
    }
    Py_XDECREF(name);
    PyErr_Clear();
    return result;
}

void raise_not_instance(PyObject* obj, std::string_view expected) {
    std::string msg = obj == Py_None ? format(kMsgNoneNotInstance, {expected})
                                     : format(kMsgNotInstance, {type_qualname(obj), expected});
    PyErr_SetString(PyExc_TypeError, msg.c_str());
}

void annotate_current_error(const char* param_name) {
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    if (!type) return;
    PyErr_NormalizeException(&type, &value, &tb);
    if (tb && value) PyException_SetTraceback(value, tb);
    if (value && PyObject_HasAttrString(value, "add_note")) {
        const std::string note = format(kMsgProcessing, {param_name});
        PyObject* r = PyObject_CallMethod(value, "add_note", "s", note.c_str());
        if (r) {
            Py_DECREF(r);
        } else {
            // A failing add_note must not replace the user's error.
            PyErr_Clear();
        }
    }
    PyErr_Restore(type, value, tb);
}

void raise_panic(const std::string& msg) {
    // Created once per process, on first need; kept for the life of the process.
    static PyObject* panic_type = nullptr;
    if (!panic_type) {
        panic_type = PyErr_NewExceptionWithDoc(
            "tarnvel.PanicException",
            "Raised when internal code called from Python fails.\n\n"
            "It derives from BaseException, not Exception, so that it propagates to the top "
            "of the stack instead of being swallowed by generic handlers.",
            PyExc_BaseException, nullptr);
        if (!panic_type) return;  // the creation error stays set
    }
    PyObject* text =
        PyUnicode_DecodeUTF8(msg.data(), static_cast<Py_ssize_t>(msg.size()), "replace");
    if (!text) return;
    PyErr_SetObject(panic_type, text);
    Py_DECREF(text);
}

}  // namespace tarnvel::py
