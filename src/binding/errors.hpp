// Every user-visible message of the binding layer, and the helpers that raise them.
// The wording is part of the API: tests compare it exactly.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <string_view>

namespace tarnvel::py {

inline constexpr const char* kMsgTooManyPositional =
    "{} takes {} positional arguments but {} {} given";
inline constexpr const char* kMsgTooManyPositionalRange =
    "{} takes from {} to {} positional arguments but {} {} given";
inline constexpr const char* kMsgUnexpectedKeyword = "{} got an unexpected keyword argument '{}'";
inline constexpr const char* kMsgMultipleValues = "{} got multiple values for argument '{}'";
inline constexpr const char* kMsgMissing = "{} missing {} required {} {}: ";
inline constexpr const char* kMsgNotInstance = "'{}' object is not an instance of '{}'";
inline constexpr const char* kMsgNoneNotInstance = "'None' is not an instance of '{}'";
inline constexpr const char* kMsgUnknownTypeName = "<failed to extract type name>";
inline constexpr const char* kMsgPrefixScale =
    "Prefix scaling parameter 'p' must be between 0.0 and 0.25";
inline constexpr const char* kMsgProcessing = "while processing '{}'";
inline constexpr const char* kMsgOutBorrowed =
    "out must be a writable array not concurrently borrowed";
inline constexpr const char* kMsgOutCount = "out must hold exactly {} {} elements, got {}";
inline constexpr const char* kMsgOutShape = "out must have shape ({}, {}), got {}";
inline constexpr const char* kMsgOutContiguous = "out must be C-contiguous";
inline constexpr const char* kMsgOutChanged = "out was resized or reshaped during the call";

// Fills each "{}" of fmt, in order, with the next argument.
std::string format(std::string_view fmt, std::initializer_list<std::string_view> args);

// The __qualname__ of an object's type, or kMsgUnknownTypeName.
std::string type_qualname(PyObject* obj);

// Raises TypeError with the type-mismatch message for obj and the expected type name.
void raise_not_instance(PyObject* obj, std::string_view expected);

// Attaches "while processing '<name>'" to the current exception where add_note exists.
void annotate_current_error(const char* param_name);

// Sets PanicException(msg) as the current exception (the type is created once).
void raise_panic(const std::string& msg);

}  // namespace tarnvel::py
