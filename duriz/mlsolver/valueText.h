// Numbers in messages as a script would write them (-1, 1e-60, 0.25), not std::to_string's six fixed
// decimals or a stream's six significant digits: the shortest text that reads back as the same value of
// its type, so that two values a message compares never print alike.
#pragma once

#include <charconv>
#include <string>

template <class T>
std::string valueText(T value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// The values of a vector or matrix, column by column, each as valueText writes it: "1, -0.5, 1e+300".
template <class Matrix>
std::string valuesText(const Matrix& values) {
  std::string text;
  for (decltype(values.size()) i = 0; i < values.size(); ++i)
    text += (i ? ", " : "") + valueText(values(i % values.rows(), i / values.rows()));
  return text;
}
