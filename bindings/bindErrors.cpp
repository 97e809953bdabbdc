#include "bindErrors.h"

#include <pybind11/pybind11.h>

#include <cstring>
#include <exception>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <system_error>

namespace py = pybind11;

namespace {

bool isUtf8(const char* text) {
  PyObject* decoded = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "strict");
  if (decoded == nullptr) {
    PyErr_Clear();
    return false;
  }
  Py_DECREF(decoded);
  return true;
}

void raise(PyObject* type, const char* text) {
  PyObject* message = PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "backslashreplace");
  PyErr_SetObject(type, message);
  Py_XDECREF(message);
}

// The kind pybind11 gives each standard error.
PyObject* pythonType(const std::exception& e) {
  if (dynamic_cast<const std::bad_alloc*>(&e)) return PyExc_MemoryError;
  if (dynamic_cast<const std::invalid_argument*>(&e) || dynamic_cast<const std::domain_error*>(&e) ||
      dynamic_cast<const std::length_error*>(&e) || dynamic_cast<const std::range_error*>(&e))
    return PyExc_ValueError;
  if (dynamic_cast<const std::out_of_range*>(&e)) return PyExc_IndexError;
  if (dynamic_cast<const std::overflow_error*>(&e)) return PyExc_OverflowError;
  return PyExc_RuntimeError;
}

}  // namespace

void bindErrorTranslation() {
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const std::filesystem::filesystem_error& e) {
      raise(e.code() == std::errc::no_such_file_or_directory ? PyExc_FileNotFoundError : PyExc_RuntimeError, e.what());
    } catch (const py::builtin_exception&) {
      throw;
    } catch (const py::error_already_set&) {
      throw;
    } catch (const std::exception& e) {
      if (isUtf8(e.what())) throw;
      raise(pythonType(e), e.what());
    }
  });
}
