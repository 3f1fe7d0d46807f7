// A small streaming JSON writer: objects, arrays, strings, numbers, with optional indentation.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kx7host {

// `text` as a quoted JSON string. Valid UTF-8 passes through; any other byte is taken as Latin-1,
// so text in a single-byte code page still gives valid JSON.
std::string JsonQuote(std::string_view text);

// The shortest decimal text that reads back as `value` ("48000", "44100.5"); "null" when the
// value is not finite, which JSON cannot express.
std::string JsonNumber(double value);

class JsonWriter {
 public:
  // indent 0 writes everything on one line; otherwise each member on a line of its own.
  explicit JsonWriter(std::ostream& out, int indent = 2);

  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // An array whose values stay on one line, for long lists of short records.
  void BeginRow();
  void EndRow();
  // Names the next value inside an object.
  void Key(std::string_view name);

  void String(std::string_view value);
  void Int(int64_t value);
  void Number(double value);
  void Bool(bool value);
  void Null();

  // A key and its value in one call.
  template <typename T>
  void Member(std::string_view name, const T& value) {
    Key(name);
    Value(value);
  }

 private:
  void Value(std::string_view value) { String(value); }
  void Value(const std::string& value) { String(value); }
  void Value(const char* value) { String(value); }
  void Value(int32_t value) { Int(value); }
  void Value(int64_t value) { Int(value); }
  void Value(double value) { Number(value); }
  void Value(bool value) { Bool(value); }

  void BeforeValue();
  void Open(char bracket);
  void Close(char bracket);
  void NewLine(size_t depth);

  std::ostream& out_;
  int indent_;
  std::vector<int> levels_;  // members written so far at each open level
  size_t rowDepth_ = 0;      // the level of an open row, 0 when none
  bool afterKey_ = false;
};

}  // namespace kx7host
