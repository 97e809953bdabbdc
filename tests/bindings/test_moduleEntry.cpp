// The module entry under interpreters that report other versions: only the version the module was
// built for (major.minor followed by a non-digit) may load it.
#include <Python.h>
#include <gtest/gtest.h>

#include <string>

namespace {

const char* reportedVersion = PY_VERSION " (this interpreter)";

// The text of the pending Python error, cleared; empty when none is pending.
std::string takeError() {
  if (!PyErr_Occurred()) return "";
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyObject* text = PyObject_Str(value);
  std::string message = std::string(Py_TYPE(value)->tp_name) + ": " + PyUnicode_AsUTF8(text);
  Py_XDECREF(text);
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(traceback);
  return message;
}

}  // namespace

// Replaces the interpreter's version report for everything in this process, the module's entry included.
extern "C" const char* Py_GetVersion() { return reportedVersion; }

TEST(ModuleEntry, LoadsOnlyUnderTheInterpreterVersionItWasBuiltFor) {
  Py_Initialize();
  ASSERT_EQ(PyRun_SimpleString("import sys; sys.path.insert(0, '" DZ_PYTHON_MODULE_DIR "')"), 0);
  const std::string built = std::to_string(PY_MAJOR_VERSION) + "." + std::to_string(PY_MINOR_VERSION);
  // A refused import leaves nothing behind, so the accepted version comes last.
  const std::string refused[] = {built + "0.1 (next)", "3.6.9 (old)", "2." + std::to_string(PY_MINOR_VERSION) + ".0",
                                 "3.1.5"};
  for (const std::string& version : refused) {
    reportedVersion = version.c_str();
    EXPECT_EQ(PyImport_ImportModule("duzavod"), nullptr) << version;
    EXPECT_EQ(takeError(), "ImportError: Python version mismatch: module was compiled for Python " + built +
                               ", but the interpreter version is incompatible: " + version + ".");
  }
  reportedVersion = PY_VERSION " (this interpreter)";
  PyObject* module = PyImport_ImportModule("duzavod");
  ASSERT_NE(module, nullptr) << takeError();
  PyObject* doc = PyObject_GetAttrString(module, "__doc__");
  EXPECT_STREQ(PyUnicode_AsUTF8(doc), "pybind11 example plugin");
  Py_XDECREF(doc);
  Py_DECREF(module);
}
