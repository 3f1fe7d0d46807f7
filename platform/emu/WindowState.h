// The headless window manager's shared state (internal): windows and their data, per-thread
// message queues and their timers, under one lock. Window and dialog procedures are always
// called with the lock released.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/emu/window.h"

namespace emu {

enum class WindowKind { Dialog, Button, Static, ComboBox };

struct Window {
  HWND handle = nullptr;
  WindowKind kind = WindowKind::Static;
  int id = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  std::string text;
  RECT rect{};
  HWND parent = nullptr;
  DWORD threadId = 0;
  bool visible = false;
  DLGPROC dialogProc = nullptr;
  LONG_PTR userData = 0;
  std::vector<HWND> children;
  std::vector<std::string> items;
  int selection = CB_ERR;
  int check = BST_UNCHECKED;
};

struct Timer {
  HWND window;
  UINT_PTR id;
  UINT period;
  DWORD due;
  TIMERPROC proc;
};

struct MessageQueue {
  std::deque<MSG> posted;
  std::vector<Timer> timers;
  bool quit = false;
  int quitCode = 0;
};

struct WindowManagerState {
  std::mutex lock;
  std::condition_variable wake;
  std::map<HWND, Window> windows;
  std::map<DWORD, MessageQueue> queues;
  uintptr_t nextHandle = 0x20000;
  UINT_PTR nextTimerId = 0x7000;
  bool failDialogs = false;
  HANDLE holdDialogs = nullptr;  // dialog creation waits until this is set
};

WindowManagerState& Manager();
// Unless said otherwise, the functions below expect Manager().lock to be held.

// The calling thread's queue, made on first use; it and the thread's windows go with the thread.
MessageQueue& QueueOfCurrentThread();
Window* Find(HWND handle);
// As Find, setting ERROR_INVALID_WINDOW_HANDLE when there is no such window.
Window* FindOrFail(HWND handle);
// Adds a window under a new handle.
HWND AddWindow(Window window);
// Removes a window, its children, their timers and the messages posted to them.
void Forget(HWND handle);
bool IsSelfOrChild(HWND window, HWND filter);
// Whether a message passes a GetMessageA/PeekMessageA range filter (0, 0 passes everything).
bool InRange(UINT message, UINT filterMin, UINT filterMax);

// Controls: the window procedure of every class, run on the window's own thread with the lock
// released; the messages answered from a window's own data (lock held); the kind of a class name.
LRESULT WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool DataMessage(Window& window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
WindowKind KindOfClass(const char* className, bool* known);

// Timers: takes a due timer's WM_TIMER that matches the filter, and how long a blocked
// GetMessageA may sleep before one could be due.
bool TakeDueTimer(MessageQueue& queue, HWND window, UINT filterMin, UINT filterMax, bool remove,
                  MSG* message);
std::chrono::milliseconds TimerWait(const MessageQueue& queue);

}  // namespace emu
