// Feeds arbitrary device replies to the KS layer's filter and pin enumeration, its format
// matching and pin creation. A go-between device stands in front of the virtual KX-7: each
// request it receives is passed on, and the fuzz input decides whether the answer is kept,
// changed in place, cut short, replaced, or turned into a failure.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "ks/KsLayer.h"
#include "platform/device_access.h"
#include "platform/vkernel/VirtualKernel.h"
#include "virtual_device/VirtualKsDevice.h"

namespace {

// Largest size the go-between claims for a reply; the layer refuses more than a megabyte.
constexpr ULONG kMaxClaimedSize = (1u << 20) + 16;

FuzzedDataProvider* g_input = nullptr;

// Answers one request: the real device's answer, then what the input makes of it.
vk::IoStatus Mangle(HANDLE inner, const vk::IoRequest& request) {
  DWORD returned = 0;
  vk::IoStatus status;
  if (DeviceIoControl(inner, request.code, const_cast<void*>(request.input), request.inputSize,
                      request.output, request.outputSize, &returned, nullptr)) {
    status = {ERROR_SUCCESS, returned};
  } else {
    status = {GetLastError(), returned};
  }
  if (g_input == nullptr || g_input->remaining_bytes() == 0) return status;
  BYTE* output = static_cast<BYTE*>(request.output);
  switch (g_input->ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
    case 1:
      return status;
    case 2: {  // a failure, possibly one that claims a size
      static const DWORD kErrors[] = {ERROR_GEN_FAILURE, ERROR_MORE_DATA, ERROR_INSUFFICIENT_BUFFER,
                                      ERROR_NOT_FOUND, ERROR_SET_NOT_FOUND};
      const DWORD error = g_input->PickValueInArray(kErrors);
      return {error, g_input->ConsumeIntegralInRange<ULONG>(0, kMaxClaimedSize)};
    }
    case 3: {  // a different size for the size query, or a shorter reply
      if (request.outputSize == 0) {
        return {ERROR_MORE_DATA, g_input->ConsumeIntegralInRange<ULONG>(0, kMaxClaimedSize)};
      }
      status.bytes = g_input->ConsumeIntegralInRange<ULONG>(0, status.bytes);
      return status;
    }
    case 4:
    case 5: {  // 32-bit words of the reply changed (counts, sizes, ids, flow, communication)
      const int words = g_input->ConsumeIntegralInRange<int>(1, 4);
      for (int i = 0; i < words && output != nullptr && request.outputSize >= 4; ++i) {
        const size_t offset =
            g_input->ConsumeIntegralInRange<size_t>(0, request.outputSize - 4) & ~size_t{3};
        const ULONG value = g_input->ConsumeBool() ? g_input->ConsumeIntegral<ULONG>()
                                                   : g_input->ConsumeIntegralInRange<ULONG>(0, 300);
        std::memcpy(output + offset, &value, sizeof value);
      }
      return status;
    }
    case 6: {  // bytes of the reply changed
      const int bytes = g_input->ConsumeIntegralInRange<int>(1, 16);
      for (int i = 0; i < bytes && output != nullptr && request.outputSize > 0; ++i) {
        output[g_input->ConsumeIntegralInRange<size_t>(0, request.outputSize - 1)] =
            g_input->ConsumeIntegral<BYTE>();
      }
      return status;
    }
    default: {  // a reply of the input's own bytes
      const std::vector<BYTE> bytes = g_input->ConsumeBytes<BYTE>(
          g_input->ConsumeIntegralInRange<size_t>(0, request.outputSize));
      if (request.outputSize == 0) return {ERROR_MORE_DATA, static_cast<DWORD>(bytes.size())};
      if (output != nullptr && !bytes.empty()) std::memcpy(output, bytes.data(), bytes.size());
      return {ERROR_SUCCESS, static_cast<DWORD>(bytes.size())};
    }
  }
}

class GoBetweenPin : public vk::FileObject {
 public:
  explicit GoBetweenPin(HANDLE inner) : inner_(inner) {}
  vk::IoStatus DeviceControl(const vk::IoRequest& request, vk::PendingIo&) override {
    return Mangle(inner_, request);
  }
  void Close() override { CloseHandle(inner_); }

 private:
  HANDLE inner_;
};

class GoBetweenFilter : public vk::FileObject {
 public:
  explicit GoBetweenFilter(HANDLE inner) : inner_(inner) {}
  vk::IoStatus DeviceControl(const vk::IoRequest& request, vk::PendingIo&) override {
    return Mangle(inner_, request);
  }
  DWORD CreatePin(const KSPIN_CONNECT* connect, ACCESS_MASK access,
                  std::shared_ptr<vk::FileObject>* pin) override {
    if (g_input != nullptr && g_input->ConsumeBool()) return g_input->ConsumeIntegral<DWORD>();
    HANDLE inner = INVALID_HANDLE_VALUE;
    const DWORD error = VkKsCreatePin(inner_, const_cast<PKSPIN_CONNECT>(connect), access, &inner);
    if (error == ERROR_SUCCESS) *pin = std::make_shared<GoBetweenPin>(inner);
    return error;
  }
  void Close() override { CloseHandle(inner_); }

 private:
  HANDLE inner_;
};

class GoBetweenNode : public vk::DeviceNode {
 public:
  explicit GoBetweenNode(std::string innerPath) : innerPath_(std::move(innerPath)) {}
  DWORD Open(std::shared_ptr<vk::FileObject>* file) override {
    HANDLE inner = CreateFileA(innerPath_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (inner == INVALID_HANDLE_VALUE) return GetLastError();
    *file = std::make_shared<GoBetweenFilter>(inner);
    return ERROR_SUCCESS;
  }

 private:
  std::string innerPath_;
};

// The KX-7 listed under a category nobody enumerates, and go-betweens listed as the audio
// filters in front of its two filters.
struct Setup {
  Setup() {
    vkx7::DeviceDescription hidden = vkx7::Kx7Description();
    for (vkx7::FilterDescription& filter : hidden.filters) {
      filter.deviceInterface.categories = {{KSCATEGORY_TOPOLOGY, SPINT_ACTIVE}};
    }
    device = std::make_unique<vkx7::VirtualKsDevice>(hidden);
    device->Plug();
    const vkx7::DeviceDescription listed = vkx7::Kx7Description();
    for (size_t i = 0; i < listed.filters.size(); ++i) {
      vk::InterfaceDescription description = listed.filters[i].deviceInterface;
      description.instanceId = "FUZZ#" + description.instanceId;
      vk::RegisterInterface(description, std::make_shared<GoBetweenNode>(device->FilterPath(i)));
    }
  }
  std::unique_ptr<vkx7::VirtualKsDevice> device;
};

// A wave format of the input's choosing, in a buffer as long as its cbSize says.
std::vector<BYTE> WaveFormat(FuzzedDataProvider& input) {
  WAVEFORMATEXTENSIBLE format = {};
  static const WORD kTags[] = {WAVE_FORMAT_PCM, WAVE_FORMAT_EXTENSIBLE, WAVE_FORMAT_IEEE_FLOAT};
  format.Format.wFormatTag =
      input.ConsumeBool() ? input.PickValueInArray(kTags) : input.ConsumeIntegral<WORD>();
  format.Format.nChannels = input.ConsumeIntegralInRange<WORD>(0, 9);
  format.Format.nSamplesPerSec = input.ConsumeBool() ? 48000 : input.ConsumeIntegral<DWORD>();
  format.Format.wBitsPerSample = input.ConsumeBool() ? 24 : input.ConsumeIntegral<WORD>();
  format.Format.nBlockAlign =
      static_cast<WORD>(format.Format.nChannels * (format.Format.wBitsPerSample / 8));
  format.Format.nAvgBytesPerSec = format.Format.nSamplesPerSec * format.Format.nBlockAlign;
  format.Format.cbSize = input.ConsumeBool() ? 22 : input.ConsumeIntegralInRange<WORD>(0, 64);
  format.Samples.wValidBitsPerSample = 24;
  format.SubFormat = input.ConsumeBool() ? KSDATAFORMAT_SUBTYPE_PCM : GUID_NULL;
  std::vector<BYTE> bytes(sizeof(WAVEFORMATEX) + format.Format.cbSize);
  std::memcpy(bytes.data(), &format, std::min(bytes.size(), sizeof format));
  return bytes;
}

void Exercise(CKsAudFilter* filter, FuzzedDataProvider& input) {
  filter->EnumerateNodes();
  const std::vector<BYTE> bytes = WaveFormat(input);
  const auto* format = reinterpret_cast<const WAVEFORMATEX*>(bytes.data());
  for (CKsPin* pin : filter->m_Pins) {
    if (auto* audio = dynamic_cast<CKsAudPin*>(pin)) audio->IsFormatSupported(format);
    pin->HasDataRangeWithSpecifier(KSDATAFORMAT_SPECIFIER_WAVEFORMATEX);
  }
  CKsAudPin* created = nullptr;
  const ULONG mode = input.ConsumeIntegralInRange<ULONG>(0, 3);
  if (auto* capture = dynamic_cast<CKsAudCapFilter*>(filter)) {
    created = capture->CreateCapturePin(format, mode);
  } else if (auto* render = dynamic_cast<CKsAudRenFilter*>(filter)) {
    created = render->CreateRenderPin(format, mode);
  }
  if (created != nullptr) {
    created->SetState(KSSTATE_RUN);
    KSSTATE state;
    created->GetState(&state);
    KSAUDIO_POSITION position;
    created->GetPosition(&position);
    created->Reset();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Setup* setup = new Setup;
  FuzzedDataProvider input(data, size);
  g_input = &input;
  setup->device->ClearRecord();
  const GUID capture[] = {KSCATEGORY_AUDIO, KSCATEGORY_CAPTURE};
  const GUID render[] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
  for (const GUID* categories : {capture, render}) {
    CKsEnumFilters enumerator(nullptr);
    const ULONG type = categories == capture ? FilterTypeCapture : FilterTypeRender;
    enumerator.EnumFilters(type, categories, 2, TRUE, FALSE, TRUE);
    for (CKsFilter* filter : enumerator.m_Filters) {
      if (auto* audio = dynamic_cast<CKsAudFilter*>(filter)) Exercise(audio, input);
    }
  }
  g_input = nullptr;
  return 0;
}
