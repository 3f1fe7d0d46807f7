#include "host/common/JsonWriter.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kx7host {

namespace {

// Length of the well-formed UTF-8 sequence at text[i], or 0 when the bytes there are not one.
size_t Utf8SequenceLength(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

void AppendEscapedCodePoint(std::string& out, unsigned code) {
  char escape[8];
  std::snprintf(escape, sizeof escape, "\\u%04x", code);
  out += escape;
}

}  // namespace

std::string JsonQuote(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const size_t length = Utf8SequenceLength(text, i);
      if (length == 0) {
        AppendEscapedCodePoint(out, c);  // Latin-1 reading of a byte that is not UTF-8
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          AppendEscapedCodePoint(out, c);
        } else {
          out += static_cast<char>(c);
        }
    }
    ++i;
  }
  out += '"';
  return out;
}

std::string JsonNumber(double value) {
  if (!std::isfinite(value)) return "null";
  char text[32];
  for (int precision = 15; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  return text;
}

JsonWriter::JsonWriter(std::ostream& out, int indent) : out_(out), indent_(indent) {}

void JsonWriter::NewLine(size_t depth) {
  if (indent_ <= 0 || (rowDepth_ != 0 && levels_.size() >= rowDepth_)) return;
  out_ << '\n' << std::string(depth * static_cast<size_t>(indent_), ' ');
}

// Separates and indents an array element; a value that follows its key needs neither.
void JsonWriter::BeforeValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (levels_.empty()) return;
  if (levels_.back()++ > 0) out_ << ',';
  NewLine(levels_.size());
}

void JsonWriter::Open(char bracket) {
  BeforeValue();
  out_ << bracket;
  levels_.push_back(0);
}

void JsonWriter::Close(char bracket) {
  if (levels_.empty()) return;
  const bool hadMembers = levels_.back() > 0;
  levels_.pop_back();
  if (hadMembers) NewLine(levels_.size());
  out_ << bracket;
}

void JsonWriter::BeginObject() { Open('{'); }
void JsonWriter::EndObject() { Close('}'); }
void JsonWriter::BeginArray() { Open('['); }
void JsonWriter::EndArray() { Close(']'); }

void JsonWriter::BeginRow() {
  Open('[');
  rowDepth_ = levels_.size();
}

void JsonWriter::EndRow() {
  if (rowDepth_ == 0 || levels_.size() != rowDepth_) return;
  levels_.pop_back();
  rowDepth_ = 0;
  out_ << ']';
}

void JsonWriter::Key(std::string_view name) {
  afterKey_ = false;
  BeforeValue();
  out_ << JsonQuote(name) << (indent_ > 0 ? ": " : ":");
  afterKey_ = true;
}

void JsonWriter::String(std::string_view value) {
  BeforeValue();
  out_ << JsonQuote(value);
}

void JsonWriter::Int(int64_t value) {
  BeforeValue();
  out_ << value;
}

void JsonWriter::Number(double value) {
  BeforeValue();
  out_ << JsonNumber(value);
}

void JsonWriter::Bool(bool value) {
  BeforeValue();
  out_ << (value ? "true" : "false");
}

void JsonWriter::Null() {
  BeforeValue();
  out_ << "null";
}

}  // namespace kx7host
