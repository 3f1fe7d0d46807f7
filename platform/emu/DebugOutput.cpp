// OutputDebugStringA goes to a sink that tests read; MessageBoxA to standard error.
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/emu/module.h"
#include "platform/emu/test_hooks.h"

namespace {

struct Sinks {
  std::mutex lock;
  std::string debugOutput;
  emu_test::MessageBoxRecord messageBox;
};

Sinks& State() {
  static Sinks* sinks = new Sinks;
  return *sinks;
}

}  // namespace

namespace emu_test {

std::string DebugOutput() {
  std::lock_guard<std::mutex> guard(State().lock);
  return State().debugOutput;
}

void ClearDebugOutput() {
  std::lock_guard<std::mutex> guard(State().lock);
  State().debugOutput.clear();
}

MessageBoxRecord LastMessageBox() {
  std::lock_guard<std::mutex> guard(State().lock);
  return State().messageBox;
}

}  // namespace emu_test

extern "C" {

void OutputDebugStringA(LPCSTR text) {
  if (text == nullptr) return;
  std::lock_guard<std::mutex> guard(State().lock);
  State().debugOutput += text;
}

int MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT type) {
  std::lock_guard<std::mutex> guard(State().lock);
  auto& record = State().messageBox;
  record.text = text != nullptr ? text : "";
  record.caption = caption != nullptr ? caption : "";
  record.type = type;
  record.count++;
  std::fprintf(stderr, "%s: %s\n", record.caption.c_str(), record.text.c_str());
  return IDOK;
}

}  // extern "C"
