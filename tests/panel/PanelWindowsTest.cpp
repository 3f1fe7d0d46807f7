// The control panel of the built driver library as a real dialog of the platform: opened through
// IASIO::controlPanel, read and operated with the window functions from the host's side, and
// photographed for people to look at.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "asio/asio.h"
#include "product/DriverIdentity.h"
#include "product/Kx7Facts.h"
#include "product/ProductInfo.h"
#include "resources/resource.h"
#include "support/TestSupport.h"

namespace kx7test {
namespace {

const CLSID kDriverClass = CLSID_NorvaKx7Asio;
using kx7::kSettingsKey;
constexpr char kTitle[] = "NORVA KX-7 ASIO Control Panel";

typedef HRESULT(STDAPICALLTYPE* GetClassObject)(REFCLSID, REFIID, LPVOID*);

void WriteSetting(const char* name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

DWORD ReadSetting(const char* name) {
  HKEY key = nullptr;
  DWORD value = 0xFFFFFFFF, size = sizeof value;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return value;
  }
  RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return value;
}

// Polls every 10 ms for up to 10 s; the bound only keeps a failing test from hanging.
template <typename Condition>
bool WaitUntil(Condition condition) {
  for (int i = 0; i < 1000 && !condition(); ++i) Sleep(10);
  return condition();
}

std::string ItemText(HWND dialog, int id) {
  char text[256] = {};
  GetDlgItemTextA(dialog, id, text, sizeof text);
  return text;
}

std::vector<std::string> ComboEntries(HWND combo) {
  std::vector<std::string> entries;
  const LRESULT count = SendMessageA(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    char text[32] = {};
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
    entries.emplace_back(text);
  }
  return entries;
}

// The bitmap statics of the dialog, in the order of the template.
std::vector<HWND> BitmapControls(HWND dialog) {
  std::vector<HWND> found;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP) found.push_back(child);
  }
  return found;
}

// Copies the window's pixels from the screen into a 24-bit BMP file.
bool SaveScreenshot(HWND window, const std::string& path) {
  RECT rect{};
  GetWindowRect(window, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  SelectObject(memory, previous);
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biCompression = BI_RGB;
  const DWORD rowSize = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
  std::vector<BYTE> pixels(rowSize * static_cast<DWORD>(height));
  const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                             reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  if (rows != height) return false;
  BITMAPFILEHEADER header{};
  header.bfType = 0x4D42;  // "BM"
  header.bfOffBits = sizeof header + sizeof info;
  header.bfSize = header.bfOffBits + static_cast<DWORD>(pixels.size());
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  std::fwrite(&header, sizeof header, 1, file);
  std::fwrite(&info, sizeof info, 1, file);
  std::fwrite(pixels.data(), 1, pixels.size(), file);
  return std::fclose(file) == 0;
}

class PanelWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char display[256] = {};
    if (GetEnvironmentVariableA("DISPLAY", display, sizeof display) == 0) {
      GTEST_SKIP() << "no X display: the panel is a real window";
    }
    DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva");
    library = LoadLibraryA(PathNextToExecutable(DriverLibraryFileName()).c_str());
    ASSERT_NE(library, nullptr) << "the driver library next to the test program";
  }
  void TearDown() override {
    if (driver != nullptr) driver->Release();
    if (library != nullptr) FreeLibrary(library);
    DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva");
  }

  // Creates a driver object as a host does and lets init load the settings (init itself fails:
  // there is no KX-7 here, except inside the DLL of the virtual-device build).
  void CreateDriver() {
    auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    ASSERT_NE(getClassObject, nullptr);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(kDriverClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, kDriverClass, reinterpret_cast<void**>(&driver)),
              S_OK);
    factory->Release();
    EXPECT_EQ(driver->init(nullptr), kDeviceInside ? ASIOTrue : ASIOFalse);
  }

  void ReleaseDriver() {
    driver->Release();
    driver = nullptr;
  }

  HWND WaitForPanel() {
    HWND panel = nullptr;
    WaitUntil([&] { return (panel = FindWindowA("#32770", kTitle)) != nullptr; });
    return panel;
  }

  static bool Gone(HWND panel) {
    return WaitUntil([&] { return !IsWindow(panel); });
  }

  int32_t PreferredSize() {
    int32_t minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    driver->getBufferSize(&minimum, &maximum, &preferred, &granularity);
    return preferred;
  }

  HMODULE library = nullptr;
  IASIO* driver = nullptr;
};

TEST_F(PanelWindowsTest, ShowsTheRealDialogAndTheHostSeesThePickedSizeAtOnceAndNextTime) {
  WriteSetting("Modeless Control Panel", 1);
  CreateDriver();
  ASSERT_EQ(driver->controlPanel(), ASE_OK);
  const HWND panel = WaitForPanel();
  ASSERT_NE(panel, nullptr);
  EXPECT_TRUE(IsWindowVisible(panel));
  char title[64] = {};
  GetWindowTextA(panel, title, sizeof title);
  EXPECT_STREQ(title, kTitle);
  EXPECT_EQ(ItemText(panel, IDC_VERSION),
            "NORVA KX-7 ASIO Control Panel Version: " KX7_VERSION_TEXT);
  const HWND combo = GetDlgItem(panel, IDC_BUFFER_SIZE);
  EXPECT_EQ(ComboEntries(combo),
            (std::vector<std::string>{"64", "128", "256", "512", "1024", "2048"}));
  EXPECT_EQ(SendMessageA(combo, CB_GETCURSEL, 0, 0), 1);
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(panel, IDC_MODELESS)));
  EXPECT_FALSE(IsWindowVisible(GetDlgItem(panel, IDC_AUTO_OPEN)));

  // Centred on the primary screen.
  RECT rect{};
  GetWindowRect(panel, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  EXPECT_EQ(rect.left, GetSystemMetrics(SM_CXSCREEN) / 2 - width / 2);
  EXPECT_EQ(rect.top, GetSystemMetrics(SM_CYSCREEN) / 2 - height / 2);

  // Each logo fills the area that the template gives its control (a bitmap static takes the
  // size of its bitmap), give or take a few pixels of font metrics.
  const std::vector<HWND> logos = BitmapControls(panel);
  ASSERT_EQ(logos.size(), 2u);
  RECT areas[2] = {{7, 196, 7 + 59, 196 + 20}, {7, 78, 7 + 278, 78 + 53}};
  for (int i = 0; i < 2; ++i) {
    MapDialogRect(panel, &areas[i]);
    RECT shown{};
    GetWindowRect(logos[i], &shown);
    EXPECT_NEAR(shown.right - shown.left, areas[i].right - areas[i].left, 4) << "logo " << i;
    EXPECT_NEAR(shown.bottom - shown.top, areas[i].bottom - areas[i].top, 4) << "logo " << i;
  }

  RedrawWindow(panel, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(300);
  EXPECT_TRUE(SaveScreenshot(panel, PathNextToExecutable("control-panel.bmp")));

  // The user picks "1024": the box selects it and tells the dialog, as a mouse pick does.
  SendMessageA(combo, CB_SETCURSEL, 4, 0);
  SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_BUFFER_SIZE, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(combo));
  EXPECT_EQ(PreferredSize(), 1024);

  PostMessageA(GetDlgItem(panel, IDOK), BM_CLICK, 0, 0);
  EXPECT_TRUE(Gone(panel));
  ReleaseDriver();
  EXPECT_EQ(ReadSetting(kx7::kBufferSizePreferredValue), 1024u);

  // The next driver object offers the choice again; Escape closes its panel.
  CreateDriver();
  EXPECT_EQ(PreferredSize(), 1024);
  ASSERT_EQ(driver->controlPanel(), ASE_OK);
  const HWND next = WaitForPanel();
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(SendDlgItemMessageA(next, IDC_BUFFER_SIZE, CB_GETCURSEL, 0, 0), 4);
  PostMessageA(next, WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_TRUE(Gone(next));
}

TEST_F(PanelWindowsTest, AWaitingControlPanelShowsMetricsAndEndsWithTheCloseBox) {
  WriteSetting("Show Metrics", 1);
  CreateDriver();
  std::thread host([&] { EXPECT_EQ(driver->controlPanel(), ASE_OK); });
  const HWND panel = WaitForPanel();
  EXPECT_NE(panel, nullptr);
  if (panel != nullptr) {
    EXPECT_TRUE(WaitUntil([&] {
      return ItemText(panel, IDC_METRICS) == "DropOut:0 | Latency:0 (0.0ms)";
    })) << ItemText(panel, IDC_METRICS);
    PostMessageA(panel, WM_SYSCOMMAND, SC_CLOSE, 0);
  }
  host.join();  // returns once the panel has gone
  EXPECT_FALSE(IsWindow(panel));
}

TEST_F(PanelWindowsTest, ReleasingTheDriverClosesItsOpenPanel) {
  WriteSetting("Modeless Control Panel", 1);
  CreateDriver();
  ASSERT_EQ(driver->controlPanel(), ASE_OK);
  const HWND panel = WaitForPanel();
  ASSERT_NE(panel, nullptr);
  ReleaseDriver();  // the destructor stops, which closes the panel and waits for its thread
  EXPECT_FALSE(IsWindow(panel));
}

// The host's main window, whose thread calls controlPanel; its timer stops and releases the
// driver from a message that the waiting controlPanel dispatches.
constexpr UINT_PTR kReleaseTimer = 7;
constexpr char kHostWindowClass[] = "Kx7TestHostWindow";
IASIO* driverOfTheHostWindow = nullptr;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_TIMER && wParam == kReleaseTimer && driverOfTheHostWindow != nullptr) {
    KillTimer(window, kReleaseTimer);
    EXPECT_EQ(driverOfTheHostWindow->stop(), ASE_OK);
    driverOfTheHostWindow->Release();
    driverOfTheHostWindow = nullptr;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateHostWindow() {
  static const ATOM registered = [] {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kHostWindowClass;
    return RegisterClassA(&windowClass);
  }();
  if (registered == 0) return nullptr;
  return CreateWindowExA(0, kHostWindowClass, "host", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, nullptr,
                         nullptr, GetModuleHandleA(nullptr), nullptr);
}

TEST_F(PanelWindowsTest, AModalPanelLeavesTheHostsWindowAnsweringAndItsTimerMayReleaseTheDriver) {
  ASIOCallbacks callbacks{};
  callbacks.bufferSwitch = [](int32_t, ASIOBool) {};
  callbacks.asioMessage = [](int32_t, int32_t, void*, double*) -> int32_t { return 0; };
  for (const bool streaming : {false, true}) {
    if (streaming && !kDeviceInside) continue;
    SCOPED_TRACE(streaming ? "streaming" : "stopped");
    CreateDriver();
    if (streaming) {
      ASIOBufferInfo infos[3] = {{ASIOTrue, 0, {nullptr, nullptr}},
                                 {ASIOFalse, 0, {nullptr, nullptr}},
                                 {ASIOFalse, 1, {nullptr, nullptr}}};
      ASSERT_EQ(driver->createBuffers(infos, 3, 256, &callbacks), ASE_OK);
      ASSERT_EQ(driver->start(), ASE_OK);
    }
    const HWND host = CreateHostWindow();
    ASSERT_NE(host, nullptr);
    // Another thread of the host talks to its window while the panel is open.
    int answered = 0, unanswered = 0;
    std::thread prober([&] {
      const HWND panel = WaitForPanel();
      for (int i = 0; i < 10 && panel != nullptr && IsWindow(panel); ++i) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutA(host, WM_NULL, 0, 0, SMTO_NORMAL, 500, &result) != 0) {
          ++answered;
        } else {
          ++unanswered;
        }
        Sleep(50);
      }
    });
    driverOfTheHostWindow = driver;
    ASSERT_NE(SetTimer(host, kReleaseTimer, 3000, nullptr), 0u);
    EXPECT_EQ(driver->controlPanel(), ASE_OK);  // modal: returns once the timer's stop closed it
    driver = nullptr;
    prober.join();
    EXPECT_EQ(driverOfTheHostWindow, nullptr) << "the timer did not fire during the wait";
    EXPECT_EQ(answered, 10);
    EXPECT_EQ(unanswered, 0);
    EXPECT_EQ(FindWindowA("#32770", kTitle), nullptr);
    DestroyWindow(host);
  }
}

// A host that closes the panel, releases the driver and frees unused libraries at once: the
// library goes once the panel thread has left it, and never before.
TEST_F(PanelWindowsTest, FreeingUnusedLibrariesWhileThePanelClosesUnloadsOnlyAfterItsThread) {
  using EntryPoint = HRESULT(STDAPICALLTYPE*)();
  const auto entry = [&](const char* name) {
    return reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  };
  ASSERT_EQ(entry("DllRegisterServer")(), S_OK);
  const std::string path = PathNextToExecutable(DriverLibraryFileName());
  const std::string file = path.substr(path.find_last_of("\\/") + 1);
  FreeLibrary(library);  // loaded from here on only through COM, as a host loads it
  library = nullptr;
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  for (int i = 0; i < 50; ++i) {
    // A panel closed this soon turns the modeless setting off (the quick-close rule).
    WriteSetting("Modeless Control Panel", 1);
    IASIO* made = nullptr;
    ASSERT_EQ(CoCreateInstance(kDriverClass, nullptr, CLSCTX_INPROC_SERVER, kDriverClass,
                               reinterpret_cast<void**>(&made)),
              S_OK);
    ASSERT_EQ(made->controlPanel(), ASE_OK);
    const HWND panel = WaitForPanel();
    ASSERT_NE(panel, nullptr);
    PostMessageA(GetDlgItem(panel, IDOK), BM_CLICK, 0, 0);
    made->Release();
    CoFreeUnusedLibraries();
    if (!WaitUntil([&] { return GetModuleHandleA(file.c_str()) == nullptr; })) {
      ADD_FAILURE() << "the library stayed loaded after round " << i;
      break;
    }
  }
  CoUninitialize();
  library = LoadLibraryA(path.c_str());
  ASSERT_NE(library, nullptr);
  EXPECT_EQ(entry("DllUnregisterServer")(), S_OK);
}

TEST_F(PanelWindowsTest, VersionResourceNamesProductMakerAndVersions) {
  const std::string path = PathNextToExecutable(DriverLibraryFileName());
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<BYTE> block(size);
  ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));
  const auto text = [&](const char* name) {
    char* value = nullptr;
    UINT length = 0;
    const std::string query = std::string("\\StringFileInfo\\040904b0\\") + name;
    if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) {
      return std::string("<missing>");
    }
    return std::string(value);
  };
  EXPECT_EQ(text("ProductName"), "NORVA KX-7 ASIO");
  EXPECT_EQ(text("CompanyName"), "Norva");
  EXPECT_EQ(text("ProductVersion"), KX7_VERSION_TEXT);
  EXPECT_EQ(text("FileVersion"), KX7_VERSION_TEXT);
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &length));
  EXPECT_EQ(info->dwProductVersionMS, 0x00010001u);
  EXPECT_EQ(info->dwProductVersionLS, 0u);
  EXPECT_EQ(info->dwFileVersionMS, info->dwProductVersionMS);
  EXPECT_EQ(info->dwFileVersionLS, info->dwProductVersionLS);
}

}  // namespace
}  // namespace kx7test
