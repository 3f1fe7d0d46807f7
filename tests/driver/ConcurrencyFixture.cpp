#include "driver/ConcurrencyFixture.h"

#include <cstdio>
#include <cstdlib>

#include "product/DriverIdentity.h"

#ifndef _WIN32
#include "platform/emu/test_hooks.h"
#include "platform/vkernel/VirtualKernel.h"
#endif

namespace kx7test {

namespace {

typedef HRESULT(STDMETHODCALLTYPE* GetClassObjectEntry)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDMETHODCALLTYPE* CanUnloadNowEntry)();
typedef ULONG(WINAPI* OpenFilesEntry)();

TestHost* hosts[2] = {nullptr, nullptr};

template <int Slot>
void BufferSwitch(int32_t, ASIOBool) {
  TestHost* host = hosts[Slot];
  const uint64_t n = host->switches.load(std::memory_order_relaxed) + 1;
  host->switches.store(n, std::memory_order_release);
  if (host->onSwitch) host->onSwitch(n);
}

template <int Slot>
ASIOTime* BufferSwitchTimeInfo(ASIOTime* time, int32_t index, ASIOBool direct) {
  if (time != nullptr) {
    hosts[Slot]->rateInTimeInfo.store(time->timeInfo.sampleRate, std::memory_order_relaxed);
  }
  BufferSwitch<Slot>(index, direct);
  return time;
}

template <int Slot>
void SampleRateDidChange(ASIOSampleRate) {
  hosts[Slot]->rateChanges.fetch_add(1, std::memory_order_relaxed);
}

template <int Slot>
int32_t AsioMessage(int32_t selector, int32_t, void*, double*) {
  return selector == kAsioSupportsTimeInfo && hosts[Slot]->answerTimeInfo ? 1 : 0;
}

template <int Slot>
ASIOCallbacks CallbacksOfSlot() {
  ASIOCallbacks callbacks{};
  callbacks.bufferSwitch = &BufferSwitch<Slot>;
  callbacks.sampleRateDidChange = &SampleRateDidChange<Slot>;
  callbacks.asioMessage = &AsioMessage<Slot>;
  callbacks.bufferSwitchTimeInfo = &BufferSwitchTimeInfo<Slot>;
  return callbacks;
}

bool IsPublished(ASIOError result) {
  switch (result) {
    case ASE_OK:
    case ASE_SUCCESS:
    case ASE_NotPresent:
    case ASE_HWMalfunction:
    case ASE_InvalidParameter:
    case ASE_InvalidMode:
    case ASE_SPNotAdvancing:
    case ASE_NoClock:
    case ASE_NoMemory:
      return true;
    default:
      return false;
  }
}

}  // namespace

Watchdog::Watchdog(int seconds) : bound(seconds) {
  deadline = std::chrono::steady_clock::now() + bound;
  thread = std::thread([this] {
    std::unique_lock<std::mutex> guard(lock);
    while (!done) {
      if (wake.wait_until(guard, deadline) == std::cv_status::timeout &&
          std::chrono::steady_clock::now() >= deadline && !done) {
        std::fprintf(stderr, "watchdog: '%s' made no progress for %lld s; failing the test\n",
                     stage.c_str(), static_cast<long long>(bound.count()));
        std::fflush(stderr);
        std::_Exit(1);
      }
    }
  });
}

Watchdog::~Watchdog() {
  {
    std::lock_guard<std::mutex> guard(lock);
    done = true;
  }
  wake.notify_all();
  thread.join();
}

void Watchdog::Kick(const std::string& name) {
  std::lock_guard<std::mutex> guard(lock);
  stage = name;
  deadline = std::chrono::steady_clock::now() + bound;
}

TestHost::TestHost(int hostSlot) : slot(hostSlot) {
  hosts[slot] = this;
  callbacks = slot == 0 ? CallbacksOfSlot<0>() : CallbacksOfSlot<1>();
}

TestHost::~TestHost() { hosts[slot] = nullptr; }

::testing::AssertionResult OneOf(ASIOError result, const std::vector<ASIOError>& allowed) {
  if (!IsPublished(result)) {
    return ::testing::AssertionFailure() << result << " is no published ASIOError";
  }
  for (ASIOError expected : allowed) {
    if (result == expected) return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "unexpected result " << result;
}

void ConcurrencyTest::SetUp() {
  DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva");
  const unsigned seed = std::random_device{}();
  random.seed(seed);
  RecordProperty("seed", static_cast<int>(seed));
  std::printf("random seed %u\n", seed);
#ifndef _WIN32
  invalidHandleUses = emu_test::InvalidHandleUses();
  device.UseRealTimeClock();
  device.Plug();
#endif
  library = LoadLibraryA(PathNextToExecutable(DriverLibraryFileName()).c_str());
  ASSERT_NE(library, nullptr) << "the driver library next to the test program";
}

void ConcurrencyTest::TearDown() {
  if (library != nullptr) {
    ExpectAllReleased("at the end of the test");
    FreeLibrary(library);
  }
#ifndef _WIN32
  EXPECT_EQ(emu_test::InvalidHandleUses(), invalidHandleUses)
      << "a handle was closed twice or waited on after it was closed";
#endif
  DeleteRegistryTree(HKEY_CURRENT_USER, "SOFTWARE\\Norva");
}

IASIO* ConcurrencyTest::CreateDriver() {
  auto getClassObject = reinterpret_cast<GetClassObjectEntry>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
  if (getClassObject == nullptr) {
    ADD_FAILURE() << "DllGetClassObject is not exported";
    return nullptr;
  }
  void* factory = nullptr;
  EXPECT_EQ(getClassObject(CLSID_NorvaKx7Asio, IID_IClassFactory, &factory), S_OK);
  if (factory == nullptr) return nullptr;
  void* object = nullptr;
  EXPECT_EQ(
      static_cast<IClassFactory*>(factory)->CreateInstance(nullptr, CLSID_NorvaKx7Asio, &object),
      S_OK);
  static_cast<IClassFactory*>(factory)->Release();
  return static_cast<IASIO*>(object);
}

void ConcurrencyTest::Prepare(TestHost& host, int inputs, int outputs, int32_t bufferSize) {
  if (host.driver == nullptr) host.driver = CreateDriver();
  ASSERT_NE(host.driver, nullptr);
  ASSERT_EQ(host.driver->init(nullptr), ASIOTrue);
  host.infoCount = 0;
  for (int c = 0; c < inputs; ++c) host.infos[host.infoCount++] = {ASIOTrue, c, {}};
  for (int c = 0; c < outputs; ++c) host.infos[host.infoCount++] = {ASIOFalse, c, {}};
  ASSERT_EQ(CreateBuffers(host, bufferSize), ASE_OK);
}

void ConcurrencyTest::Close(TestHost& host) {
  EXPECT_TRUE(OneOf(host.driver->disposeBuffers(), {ASE_OK}));
  EXPECT_EQ(host.driver->Release(), 0u);
  host.driver = nullptr;
}

ASIOError ConcurrencyTest::CreateBuffers(TestHost& host, int32_t bufferSize) {
  return host.driver->createBuffers(host.infos, host.infoCount, bufferSize, &host.callbacks);
}

bool ConcurrencyTest::WaitForSwitches(const TestHost& host, uint64_t count, int milliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (host.switches.load(std::memory_order_acquire) < count) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

size_t ConcurrencyTest::DeviceFilesOpen() {
#ifdef _WIN32
  auto openFiles = reinterpret_cast<OpenFilesEntry>(
      reinterpret_cast<void*>(GetProcAddress(library, "VirtualKx7OpenFiles")));
  if (openFiles == nullptr) {
    ADD_FAILURE() << "the library carries no virtual KX-7";
    return 0;
  }
  return openFiles();
#else
  return vk::OpenFileCount();
#endif
}

HRESULT ConcurrencyTest::CanUnloadNow() {
  auto canUnloadNow = reinterpret_cast<CanUnloadNowEntry>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllCanUnloadNow")));
  return canUnloadNow != nullptr ? canUnloadNow() : E_FAIL;
}

void ConcurrencyTest::ExpectAllReleased(const std::string& when) {
  EXPECT_EQ(CanUnloadNow(), S_OK) << "a driver object is still alive " << when;
  EXPECT_EQ(DeviceFilesOpen(), 0u) << "a filter or pin of the device is still open " << when;
}

void ConcurrencyTest::RandomPause(int maxMicroseconds) {
  if (maxMicroseconds <= 0) {
    std::this_thread::yield();
    return;
  }
  const int pause = RandomBelow(maxMicroseconds);
  if (pause < 20) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::microseconds(pause));
  }
}

int ConcurrencyTest::RandomBelow(int bound) {
  return std::uniform_int_distribution<int>(0, bound - 1)(random);
}

}  // namespace kx7test
