// How the library's errors reach Python, beyond pybind11's own translation.
#pragma once

// A missing file raises FileNotFoundError (other file-system errors stay RuntimeError). A message holding
// bytes that are no UTF-8 (read from a file, or a model's names) keeps its text, those bytes escaped as
// Python shows them, instead of arriving empty.
void bindErrorTranslation();
