// The built library called as a host built with the platform's usual compiler calls it, through
// function-pointer types declared here with their conventions spelled out (not through the
// project's interface header): the entry points and IUnknown's and IClassFactory's methods
// __stdcall, IASIO's own methods __thiscall, the host's callbacks __cdecl. On 32-bit Windows
// every method is also called by a thunk that counts the bytes the callee pops, so that a wrong
// convention fails here instead of corrupting a host's stack.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/com.h"
#include "product/DriverIdentity.h"
#include "product/Kx7Facts.h"
#include "support/TestSupport.h"

#if defined(_WIN32) && defined(__i386__)
#define KX7_X86 1
#define HOST_STDCALL __attribute__((stdcall))
#define HOST_THISCALL __attribute__((thiscall))
#define HOST_CDECL __attribute__((cdecl))
#else
#define KX7_X86 0
#define HOST_STDCALL
#define HOST_THISCALL
#define HOST_CDECL
#endif

namespace kx7test {
namespace {

// The published records a host hands in, packed to 4 bytes as hosts pack them.
#pragma pack(push, 4)
struct HostBufferInfo {
  int32_t isInput;
  int32_t channelNum;
  void* buffers[2];
};
struct HostChannelInfo {
  int32_t channel, isInput, isActive, channelGroup, type;
  char name[32];
};
struct HostClockSource {
  int32_t index, associatedChannel, associatedGroup, isCurrentSource;
  char name[32];
};
struct HostCallbacks {
  void(HOST_CDECL* bufferSwitch)(int32_t index, int32_t directProcess);
  void(HOST_CDECL* sampleRateDidChange)(double rate);
  int32_t(HOST_CDECL* asioMessage)(int32_t selector, int32_t value, void* message, double* opt);
  void*(HOST_CDECL* bufferSwitchTimeInfo)(void* time, int32_t index, int32_t directProcess);
};
#pragma pack(pop)
static_assert(sizeof(HostBufferInfo) == 8 + 2 * sizeof(void*), "host's ASIOBufferInfo");
static_assert(sizeof(HostChannelInfo) == 52 && sizeof(HostClockSource) == 48, "host records");

// The two vtables as slot types.
struct FactoryVtbl {
  HRESULT(HOST_STDCALL* QueryInterface)(void* self, const GUID* riid, void** ppv);
  ULONG(HOST_STDCALL* AddRef)(void* self);
  ULONG(HOST_STDCALL* Release)(void* self);
  HRESULT(HOST_STDCALL* CreateInstance)(void* self, void* outer, const GUID* riid, void** ppv);
  HRESULT(HOST_STDCALL* LockServer)(void* self, BOOL lock);
};
// GCC notes that thiscall is meant for class methods; on a pointer type it still passes the first
// argument in ECX, which is what a host's call through the vtable does.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
struct DriverVtbl {
  HRESULT(HOST_STDCALL* QueryInterface)(void* self, const GUID* riid, void** ppv);
  ULONG(HOST_STDCALL* AddRef)(void* self);
  ULONG(HOST_STDCALL* Release)(void* self);
  int32_t(HOST_THISCALL* init)(void* self, void* sysHandle);
  void(HOST_THISCALL* getDriverName)(void* self, char* name);
  int32_t(HOST_THISCALL* getDriverVersion)(void* self);
  void(HOST_THISCALL* getErrorMessage)(void* self, char* text);
  int32_t(HOST_THISCALL* start)(void* self);
  int32_t(HOST_THISCALL* stop)(void* self);
  int32_t(HOST_THISCALL* getChannels)(void* self, int32_t* inputs, int32_t* outputs);
  int32_t(HOST_THISCALL* getLatencies)(void* self, int32_t* input, int32_t* output);
  int32_t(HOST_THISCALL* getBufferSize)(void* self, int32_t* minSize, int32_t* maxSize,
                                        int32_t* preferred, int32_t* granularity);
  int32_t(HOST_THISCALL* canSampleRate)(void* self, double rate);
  int32_t(HOST_THISCALL* getSampleRate)(void* self, double* rate);
  int32_t(HOST_THISCALL* setSampleRate)(void* self, double rate);
  int32_t(HOST_THISCALL* getClockSources)(void* self, HostClockSource* clocks, int32_t* count);
  int32_t(HOST_THISCALL* setClockSource)(void* self, int32_t reference);
  int32_t(HOST_THISCALL* getSamplePosition)(void* self, uint32_t* position, uint32_t* stamp);
  int32_t(HOST_THISCALL* getChannelInfo)(void* self, HostChannelInfo* info);
  int32_t(HOST_THISCALL* createBuffers)(void* self, HostBufferInfo* infos, int32_t count,
                                        int32_t size, HostCallbacks* callbacks);
  int32_t(HOST_THISCALL* disposeBuffers)(void* self);
  int32_t(HOST_THISCALL* controlPanel)(void* self);
  int32_t(HOST_THISCALL* future)(void* self, int32_t selector, void* opt);
  int32_t(HOST_THISCALL* outputReady)(void* self);
};
#pragma GCC diagnostic pop
typedef HRESULT(HOST_STDCALL* GetClassObjectFn)(const GUID* clsid, const GUID* riid, void** ppv);
typedef HRESULT(HOST_STDCALL* PlainEntryFn)();

template <typename Vtbl>
const Vtbl& VtableOf(void* object) {
  return **static_cast<Vtbl**>(object);
}

constexpr int32_t kOk = 0;
constexpr int32_t kNotPresent = -1000;
constexpr int32_t kCanTimeInfo = 10;

#if KX7_X86
// Calls `fn` with `count` 32-bit words pushed right to left (the stack 16-byte aligned at the
// call, as compiled callers keep it) and ECX set to `ecx`; stores EAX and returns the number of
// bytes the callee popped. ESP is restored from a callee-saved register,
// so a wrong pop count is reported rather than fatal.
extern "C" uint32_t HOST_CDECL kx7_CallCountingPops(const void* fn, void* ecx, const uint32_t* args,
                                                    uint32_t count, uint32_t* eax);
asm(R"(
  .text
  .globl _kx7_CallCountingPops
_kx7_CallCountingPops:
  pushl %ebp
  movl %esp, %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl %esp, %ebx
  movl 16(%ebp), %esi
  movl 20(%ebp), %edi
  leal (,%edi,4), %eax
  subl %eax, %esp
  andl $-16, %esp
  addl %eax, %esp
1:
  testl %edi, %edi
  jz 2f
  decl %edi
  pushl (%esi,%edi,4)
  jmp 1b
2:
  movl %esp, %edi
  movl 12(%ebp), %ecx
  call *8(%ebp)
  movl %esp, %ecx
  subl %edi, %ecx
  movl 24(%ebp), %edx
  movl %eax, (%edx)
  movl %ecx, %eax
  movl %ebx, %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret
)");

uint32_t Word(const void* pointer) {
  return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

// Calls slot `slot` of `object` as its convention says (stdcall: `this` first on the stack;
// thiscall: `this` in ECX) and expects the callee to pop every argument word it was given.
uint32_t CallSlot(void* object, int slot, bool thiscall, std::vector<uint32_t> args) {
  const void* fn = reinterpret_cast<const void* const*>(*static_cast<void**>(object))[slot];
  if (!thiscall) args.insert(args.begin(), Word(object));
  uint32_t eax = 0;
  const uint32_t popped = kx7_CallCountingPops(fn, thiscall ? object : nullptr, args.data(),
                                               static_cast<uint32_t>(args.size()), &eax);
  EXPECT_EQ(popped, 4 * args.size()) << "slot " << slot << " popped " << popped << " bytes";
  return eax;
}

std::vector<uint32_t> DoubleWords(double value) {
  uint32_t words[2];
  std::memcpy(words, &value, sizeof words);
  return {words[0], words[1]};
}
#endif

class CallingConventionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva");
    // The panel must not wait for the user when controlPanel is called.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyA(HKEY_CURRENT_USER, kx7::kSettingsKey, &key), ERROR_SUCCESS);
    const DWORD modeless = 1;
    RegSetValueExA(key, kx7::kModelessControlPanelValue, 0, REG_DWORD,
                   reinterpret_cast<const BYTE*>(&modeless), sizeof modeless);
    RegCloseKey(key);
    library = LoadLibraryA(PathNextToExecutable(DriverLibraryFileName()).c_str());
    ASSERT_NE(library, nullptr);
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    ASSERT_NE(getClassObject, nullptr);
    ASSERT_EQ(getClassObject(&CLSID_NorvaKx7Asio, &IID_IClassFactory, &factory), S_OK);
    const FactoryVtbl& f = VtableOf<FactoryVtbl>(factory);
    ASSERT_EQ(f.CreateInstance(factory, nullptr, &CLSID_NorvaKx7Asio, &driver), S_OK);
    ASSERT_NE(driver, nullptr);
  }
  void TearDown() override {
    if (driver != nullptr) {
      EXPECT_EQ(VtableOf<DriverVtbl>(driver).Release(driver), 0u);
    }
    if (factory != nullptr) VtableOf<FactoryVtbl>(factory).Release(factory);
    if (library != nullptr) {
      auto canUnload = reinterpret_cast<PlainEntryFn>(
          reinterpret_cast<void*>(GetProcAddress(library, "DllCanUnloadNow")));
      ASSERT_NE(canUnload, nullptr);
      EXPECT_EQ(canUnload(), S_OK);
      FreeLibrary(library);
    }
    DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva");
  }

  HMODULE library = nullptr;
  void* factory = nullptr;
  void* driver = nullptr;
};

TEST_F(CallingConventionTest, EveryMethodAnswersThroughTheHostsSlotTypes) {
  const FactoryVtbl& f = VtableOf<FactoryVtbl>(factory);
  void* again = nullptr;
  EXPECT_EQ(f.QueryInterface(factory, &IID_IClassFactory, &again), S_OK);
  EXPECT_EQ(again, factory);
  EXPECT_EQ(f.AddRef(factory), 3u);
  EXPECT_EQ(f.Release(factory), 2u);
  EXPECT_EQ(f.Release(factory), 1u);
  EXPECT_EQ(f.LockServer(factory, TRUE), S_OK);
  EXPECT_EQ(f.LockServer(factory, FALSE), S_OK);

  const DriverVtbl& d = VtableOf<DriverVtbl>(driver);
  void* unknown = nullptr;
  EXPECT_EQ(d.QueryInterface(driver, &IID_IUnknown, &unknown), S_OK);
  EXPECT_EQ(d.AddRef(driver), 3u);
  EXPECT_EQ(d.Release(driver), 2u);
  EXPECT_EQ(d.Release(driver), 1u);
  char text[128] = {};
  d.getDriverName(driver, text);
  EXPECT_STREQ(text, "NORVA KX-7 ASIO");
  EXPECT_EQ(d.getDriverVersion(driver), 1);
  EXPECT_EQ(d.init(driver, nullptr), kDeviceInside ? 1 : 0);
  d.getErrorMessage(driver, text);
  EXPECT_STREQ(text, kDeviceInside ? "ASIO OK" : "ASIO Driver open Failure!");
  int32_t inputs = -1, outputs = -1;
  EXPECT_EQ(d.getChannels(driver, &inputs, &outputs), kOk);
  EXPECT_EQ(inputs + outputs, 4);
  int32_t in = 0, out = 0;
  d.getLatencies(driver, &in, &out);
  int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
  EXPECT_EQ(d.getBufferSize(driver, &minSize, &maxSize, &preferred, &granularity), kOk);
  EXPECT_GT(maxSize, 0);
  EXPECT_LE(minSize, preferred);
  EXPECT_EQ(d.canSampleRate(driver, 96000.0), kOk);
  EXPECT_NE(d.canSampleRate(driver, 12345.0), kOk);  // the double reaches the driver whole
  double rate = 0;
  d.getSampleRate(driver, &rate);
  if (kDeviceInside) {
    EXPECT_EQ(d.setSampleRate(driver, 96000.0), kOk);
    EXPECT_EQ(d.getSampleRate(driver, &rate), kOk);
    EXPECT_EQ(rate, 96000.0);
  }
  HostClockSource clocks[4] = {};
  int32_t clockCount = 4;
  EXPECT_EQ(d.getClockSources(driver, clocks, &clockCount), kOk);
  EXPECT_EQ(clockCount, 1);
  EXPECT_EQ(clocks[0].isCurrentSource, 1);
  d.setClockSource(driver, 0);
  HostChannelInfo info = {};
  info.channel = 0;
  info.isInput = 1;
  const int32_t infoResult = d.getChannelInfo(driver, &info);
  if (kDeviceInside) {
    EXPECT_EQ(infoResult, kOk);
    EXPECT_EQ(info.isInput, 1);
    EXPECT_NE(info.name[0], '\0');
  }
  EXPECT_EQ(d.future(driver, kCanTimeInfo, nullptr), 0x3f4847a0);
  EXPECT_EQ(d.controlPanel(driver), kOk);
  EXPECT_NE(d.start(driver), kOk);  // no buffers
  d.stop(driver);
  d.disposeBuffers(driver);
  uint32_t position[2] = {}, stamp[2] = {};
  d.getSamplePosition(driver, position, stamp);
  d.outputReady(driver);
}

#if KX7_X86
TEST_F(CallingConventionTest, EveryCalleePopsWhatItsConventionPops) {
  const uint32_t iidUnknown = Word(&IID_IUnknown);
  uint32_t out = 0;
  CallSlot(factory, 0, false, {Word(&IID_IClassFactory), Word(&out)});
  CallSlot(factory, 2, false, {});  // the reference the query added
  CallSlot(factory, 1, false, {});
  CallSlot(factory, 2, false, {});
  CallSlot(factory, 4, false, {TRUE});
  CallSlot(factory, 4, false, {FALSE});
  void* second = nullptr;
  EXPECT_EQ(CallSlot(factory, 3, false, {0, Word(&CLSID_NorvaKx7Asio), Word(&second)}),
            static_cast<uint32_t>(S_OK));
  ASSERT_NE(second, nullptr);
  CallSlot(second, 2, false, {});

  CallSlot(driver, 0, false, {iidUnknown, Word(&out)});
  CallSlot(driver, 2, false, {});
  CallSlot(driver, 1, false, {});
  CallSlot(driver, 2, false, {});
  char text[128] = {};
  int32_t a = 0, b = 0, c = 0, e = 0;
  double rate = 0;
  HostClockSource clocks[4] = {};
  int32_t clockCount = 4;
  uint32_t position[2] = {}, stamp[2] = {};
  HostChannelInfo info = {};
  HostBufferInfo buffers[1] = {};
  HostCallbacks callbacks = {};
  CallSlot(driver, 3, true, {0});           // init
  CallSlot(driver, 4, true, {Word(text)});  // getDriverName
  EXPECT_STREQ(text, "NORVA KX-7 ASIO");
  EXPECT_EQ(CallSlot(driver, 5, true, {}), 1u);     // getDriverVersion
  CallSlot(driver, 6, true, {Word(text)});          // getErrorMessage
  CallSlot(driver, 7, true, {});                    // start
  CallSlot(driver, 8, true, {});                    // stop
  CallSlot(driver, 9, true, {Word(&a), Word(&b)});  // getChannels
  EXPECT_EQ(a + b, 4);
  CallSlot(driver, 10, true, {Word(&a), Word(&b)});                      // getLatencies
  CallSlot(driver, 11, true, {Word(&a), Word(&b), Word(&c), Word(&e)});  // getBufferSize
  CallSlot(driver, 12, true, DoubleWords(48000.0));                      // canSampleRate
  CallSlot(driver, 13, true, {Word(&rate)});                             // getSampleRate
  CallSlot(driver, 14, true, DoubleWords(48000.0));                      // setSampleRate
  CallSlot(driver, 15, true, {Word(clocks), Word(&clockCount)});         // getClockSources
  EXPECT_EQ(clockCount, 1);
  CallSlot(driver, 16, true, {0});                                      // setClockSource
  CallSlot(driver, 17, true, {Word(position), Word(stamp)});            // getSamplePosition
  CallSlot(driver, 18, true, {Word(&info)});                            // getChannelInfo
  CallSlot(driver, 19, true, {Word(buffers), 0, 0, Word(&callbacks)});  // createBuffers, none
  CallSlot(driver, 20, true, {});                                       // disposeBuffers
  // controlPanel (slot 21) is called through its slot type above only: its panel thread does not
  // start when it is called from this thunk.
  CallSlot(driver, 22, true, {static_cast<uint32_t>(kCanTimeInfo), 0});  // future
  CallSlot(driver, 23, true, {});                                        // outputReady
}
#endif

#ifdef KX7_VIRTUAL_DEVICE
// The host's callbacks, plain __cdecl functions: the depth of the stack at which the driver's
// thread enters them stays the same from one buffer switch to the next, which it would not if
// the driver expected them to pop their arguments.
std::atomic<int> switches{0};
std::atomic<uintptr_t> firstFrame{0};
std::atomic<bool> frameMoved{false};

void NoteFrame(uintptr_t frame) {
  uintptr_t expected = 0;
  if (!firstFrame.compare_exchange_strong(expected, frame) && expected != frame) frameMoved = true;
}
void HOST_CDECL OnBufferSwitch(int32_t, int32_t) {
  NoteFrame(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
  ++switches;
}
void* HOST_CDECL OnBufferSwitchTimeInfo(void* time, int32_t, int32_t) {
  NoteFrame(reinterpret_cast<uintptr_t>(__builtin_frame_address(0)));
  ++switches;
  return time;
}
void HOST_CDECL OnRateChange(double) {}
int32_t HOST_CDECL OnMessage(int32_t selector, int32_t value, void*, double*) {
  constexpr int32_t kSelectorSupported = 1, kSupportsTimeInfo = 7;
  if (selector == kSelectorSupported) return value == kSupportsTimeInfo ? 1 : 0;
  return selector == kSupportsTimeInfo ? 1 : 0;
}

TEST_F(CallingConventionTest, TheDriverCallsTheHostsCallbacksAsCdecl) {
  const DriverVtbl& d = VtableOf<DriverVtbl>(driver);
  ASSERT_EQ(d.init(driver, nullptr), 1);
  int32_t minSize = 0, maxSize = 0, preferred = 0, granularity = 0;
  ASSERT_EQ(d.getBufferSize(driver, &minSize, &maxSize, &preferred, &granularity), kOk);
  HostBufferInfo infos[2] = {{1, 0, {nullptr, nullptr}}, {0, 0, {nullptr, nullptr}}};
  HostCallbacks callbacks = {OnBufferSwitch, OnRateChange, OnMessage, OnBufferSwitchTimeInfo};
  ASSERT_EQ(d.createBuffers(driver, infos, 2, preferred, &callbacks), kOk);
  EXPECT_NE(infos[0].buffers[0], nullptr);
  EXPECT_NE(infos[1].buffers[1], nullptr);
  ASSERT_EQ(d.start(driver), kOk);
  for (int i = 0; i < 200 && switches.load() < 20; ++i) Sleep(10);
  EXPECT_EQ(d.stop(driver), kOk);
  EXPECT_EQ(d.disposeBuffers(driver), kOk);
  EXPECT_GE(switches.load(), 20);
  EXPECT_FALSE(frameMoved.load());
}
#endif

}  // namespace
}  // namespace kx7test
