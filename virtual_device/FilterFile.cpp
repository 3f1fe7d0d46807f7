// An open filter: answers the pin, topology and node property requests of its description,
// and creates pins after checking the connect record and wave format against the pin's ranges.
#include <algorithm>
#include <cstring>

#include "virtual_device/DeviceFile.h"
#include "virtual_device/Replies.h"

namespace vkx7 {
namespace detail {

std::shared_ptr<vk::FileObject> NewPinFile(std::shared_ptr<Core> core,
                                           std::shared_ptr<PinInstance> pin);

namespace {

constexpr ULONG kMaxFormatSize = 4096;
constexpr LONG kMinimumVolume = -96 * 65536;  // 1/65536 dB

bool SameIdentifier(const KSIDENTIFIER& a, const KSIDENTIFIER& b) {
  return SameGuid(a.Set, b.Set) && a.Id == b.Id;
}

// Channels the filter's streaming pin carries (the first audio range's maximum), for nodes.
LONG NodeChannels(const FilterDescription& filter) {
  for (const PinDescription& pin : filter.pins) {
    for (const std::vector<BYTE>& bytes : pin.dataRanges) {
      if (bytes.size() < sizeof(KSDATARANGE_AUDIO)) continue;
      KSDATARANGE_AUDIO range;
      std::memcpy(&range, bytes.data(), sizeof range);
      return static_cast<LONG>(std::min<ULONG>(range.MaximumChannels, 8));
    }
  }
  return 2;
}

class FilterFile : public DeviceFile {
 public:
  FilterFile(std::shared_ptr<Core> core, size_t filter, uint64_t generation)
      : DeviceFile(std::move(core), filter, false), generation_(generation) {}

  DWORD CreatePin(const KSPIN_CONNECT* connect, ACCESS_MASK,
                  std::shared_ptr<vk::FileObject>* pin) override {
    std::lock_guard<std::mutex> guard(core_->lock);
    KSPIN_CONNECT header;
    std::memcpy(&header, connect, sizeof header);
    const BYTE* format = reinterpret_cast<const BYTE*>(connect) + sizeof header;
    KSDATAFORMAT dataFormat;
    std::memcpy(&dataFormat, format, sizeof dataFormat);

    ConnectRecord record;
    record.filter = static_cast<int>(filter_);
    record.pinId = header.PinId;
    const ULONG formatSize = dataFormat.FormatSize;
    const bool sizeSane = formatSize >= sizeof(KSDATAFORMAT) && formatSize <= kMaxFormatSize;
    const size_t recorded = sizeof header + (sizeSane ? formatSize : sizeof(KSDATAFORMAT));
    record.connect.assign(reinterpret_cast<const BYTE*>(connect),
                          reinterpret_cast<const BYTE*>(connect) + recorded);

    record.result = sizeSane ? Create(header, format, formatSize, pin) : ERROR_INVALID_PARAMETER;
    core_->record.connects.push_back(std::move(record));
    return core_->record.connects.back().result;
  }

 private:
  bool Alive() const { return core_->plugged && generation_ == core_->generation; }

  const FilterDescription& Description() const { return core_->description.filters[filter_]; }

  DWORD Create(const KSPIN_CONNECT& header, const BYTE* format, ULONG formatSize,
               std::shared_ptr<vk::FileObject>* pin) {
    if (!Alive()) return ERROR_DEVICE_NOT_CONNECTED;
    const FilterDescription& filter = Description();
    if (header.PinId >= filter.pins.size()) return ERROR_INVALID_PARAMETER;
    const PinDescription& description = filter.pins[header.PinId];
    if (description.communication != KSPIN_COMMUNICATION_SINK &&
        description.communication != KSPIN_COMMUNICATION_BOTH) {
      return ERROR_NOT_SUPPORTED;
    }
    // The audio engine of the system (or another program) streaming through the pin.
    const Direction direction =
        description.dataFlow == KSPIN_DATAFLOW_IN ? Direction::Render : Direction::Capture;
    if (core_->heldPin[static_cast<int>(direction)] || core_->taken) return ERROR_BAD_COMMAND;
    auto offers = [](const std::vector<KSIDENTIFIER>& list, const KSIDENTIFIER& wanted) {
      return std::any_of(list.begin(), list.end(),
                         [&](const KSIDENTIFIER& item) { return SameIdentifier(item, wanted); });
    };
    if (!offers(description.interfaces, header.Interface) ||
        !offers(description.mediums, header.Medium)) {
      return ERROR_NO_MATCH;
    }
    const DWORD formatResult = CheckFormat(description, format, formatSize);
    if (formatResult != ERROR_SUCCESS) return formatResult;

    WAVEFORMATEX wfx;
    std::memcpy(&wfx, format + sizeof(KSDATAFORMAT), sizeof wfx);
    if ((core_->refuseExtensible && wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE) ||
        (core_->refusePlainPcm && wfx.wFormatTag == WAVE_FORMAT_PCM) ||
        (core_->refusedRate != 0 && wfx.nSamplesPerSec == core_->refusedRate)) {
      return ERROR_NO_MATCH;
    }
    const ULONG instances = core_->InstanceCount(filter_, header.PinId);
    if (instances >= description.possibleInstances ||
        instances >= description.possibleGlobalInstances) {
      return ERROR_NO_SYSTEM_RESOURCES;
    }

    auto instance = std::make_shared<PinInstance>();
    instance->filter = filter_;
    instance->pinId = header.PinId;
    instance->render = description.dataFlow == KSPIN_DATAFLOW_IN;
    instance->waveFormat.assign(format + sizeof(KSDATAFORMAT), format + formatSize);
    instance->wfx = wfx;
    instance->blockAlign = wfx.nBlockAlign;
    instance->generation = generation_;
    core_->pins.push_back(instance);
    *pin = NewPinFile(core_, std::move(instance));
    return ERROR_SUCCESS;
  }

  DWORD Usable() const override {
    return Alive() ? static_cast<DWORD>(ERROR_SUCCESS)
                   : static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED);
  }

  ULONG PinOf(const vk::IoRequest& request, const KSPROPERTY* property) const override {
    if (property == nullptr || !SameGuid(property->Set, KSPROPSETID_Pin) ||
        request.inputSize < sizeof(KSP_PIN)) {
      return kAnyPin;
    }
    KSP_PIN pinProperty;
    std::memcpy(&pinProperty, request.input, sizeof pinProperty);
    return pinProperty.PinId;
  }

  bool KnowsSet(const GUID& set) const override {
    return SameGuid(set, KSPROPSETID_Pin) || SameGuid(set, KSPROPSETID_Topology) ||
           (SameGuid(set, KSPROPSETID_Audio) && !Description().nodes.empty());
  }

  vk::IoStatus Property(const vk::IoRequest& request, const KSPROPERTY& property,
                        ULONG pinId) override {
    if ((property.Flags & KSPROPERTY_TYPE_BASICSUPPORT) != 0) {
      ULONG access = KSPROPERTY_TYPE_GET;
      if (SameGuid(property.Set, KSPROPSETID_Audio)) {
        access |= KSPROPERTY_TYPE_SET;
      } else if (!SameGuid(property.Set, KSPROPSETID_Pin) &&
                 !SameGuid(property.Set, KSPROPSETID_Topology)) {
        return {ERROR_SET_NOT_FOUND, 0};
      }
      return ReplyValue(request, access);
    }
    if (SameGuid(property.Set, KSPROPSETID_Pin)) return PinProperty(request, property, pinId);
    if (SameGuid(property.Set, KSPROPSETID_Topology)) return TopologyProperty(request, property);
    if (SameGuid(property.Set, KSPROPSETID_Audio) &&
        (property.Flags & KSPROPERTY_TYPE_TOPOLOGY) != 0) {
      return NodeProperty(request, property);
    }
    return {ERROR_SET_NOT_FOUND, 0};
  }

  vk::IoStatus PinProperty(const vk::IoRequest& request, const KSPROPERTY& property, ULONG pinId) {
    if ((property.Flags & KSPROPERTY_TYPE_GET) == 0) return {ERROR_INVALID_FUNCTION, 0};
    const FilterDescription& filter = Description();
    if (property.Id == KSPROPERTY_PIN_CTYPES) {
      return ReplyValue(request, static_cast<ULONG>(filter.pins.size()));
    }
    if (pinId == kAnyPin || pinId >= filter.pins.size()) return {ERROR_INVALID_PARAMETER, 0};
    const PinDescription& pin = filter.pins[pinId];
    switch (property.Id) {
      case KSPROPERTY_PIN_CINSTANCES:
      case KSPROPERTY_PIN_GLOBALCINSTANCES: {
        KSPIN_CINSTANCES instances;
        instances.PossibleCount = property.Id == KSPROPERTY_PIN_CINSTANCES
                                      ? pin.possibleInstances
                                      : pin.possibleGlobalInstances;
        instances.CurrentCount = core_->InstanceCount(filter_, pinId);
        return ReplyValue(request, instances);
      }
      case KSPROPERTY_PIN_DATAFLOW:
        return ReplyValue(request, pin.dataFlow);
      case KSPROPERTY_PIN_COMMUNICATION:
        return ReplyValue(request, pin.communication);
      case KSPROPERTY_PIN_NECESSARYINSTANCES:
        return ReplyValue(request, ULONG{0});
      case KSPROPERTY_PIN_CATEGORY:
        return ReplyValue(request, pin.category);
      case KSPROPERTY_PIN_NAME: {
        const std::vector<BYTE> name = Utf16(pin.name);
        return ReplyBytes(request, name.data(), static_cast<DWORD>(name.size()));
      }
      case KSPROPERTY_PIN_INTERFACES:
      case KSPROPERTY_PIN_MEDIUMS: {
        const std::vector<KSIDENTIFIER>& items =
            property.Id == KSPROPERTY_PIN_INTERFACES ? pin.interfaces : pin.mediums;
        const std::vector<BYTE> reply = MultipleItem(
            items.data(), items.size() * sizeof(KSIDENTIFIER), static_cast<ULONG>(items.size()));
        return ReplyBytes(request, reply.data(), static_cast<DWORD>(reply.size()));
      }
      case KSPROPERTY_PIN_DATARANGES: {
        const std::vector<BYTE> reply = MultipleRanges(pin.dataRanges);
        return ReplyBytes(request, reply.data(), static_cast<DWORD>(reply.size()));
      }
      default:
        return {ERROR_NOT_FOUND, 0};
    }
  }

  vk::IoStatus TopologyProperty(const vk::IoRequest& request, const KSPROPERTY& property) {
    if ((property.Flags & KSPROPERTY_TYPE_GET) == 0) return {ERROR_INVALID_FUNCTION, 0};
    const FilterDescription& filter = Description();
    std::vector<BYTE> reply;
    switch (property.Id) {
      case KSPROPERTY_TOPOLOGY_NODES:
        reply = MultipleItem(filter.nodes.data(), filter.nodes.size() * sizeof(GUID),
                             static_cast<ULONG>(filter.nodes.size()));
        break;
      case KSPROPERTY_TOPOLOGY_CATEGORIES: {
        std::vector<GUID> categories;
        for (const vk::InterfaceCategory& category : filter.deviceInterface.categories) {
          categories.push_back(category.category);
        }
        reply = MultipleItem(categories.data(), categories.size() * sizeof(GUID),
                             static_cast<ULONG>(categories.size()));
        break;
      }
      case KSPROPERTY_TOPOLOGY_CONNECTIONS: {
        // Without a topology of its own, data flows from the first pin through the nodes in
        // order to the second pin.
        std::vector<KSTOPOLOGY_CONNECTION> connections = filter.connections;
        if (connections.empty() && filter.pins.size() >= 2) {
          const bool inFirst = filter.pins[0].dataFlow == KSPIN_DATAFLOW_IN;
          const ULONG from = inFirst ? 0 : 1;
          const ULONG to = inFirst ? 1 : 0;
          ULONG node = KSFILTER_NODE;
          ULONG pin = from;
          for (ULONG i = 0; i < filter.nodes.size(); ++i) {
            connections.push_back({node, pin, i, 1});
            node = i;
            pin = 0;
          }
          connections.push_back({node, pin, KSFILTER_NODE, to});
        }
        reply = MultipleItem(connections.data(), connections.size() * sizeof(connections[0]),
                             static_cast<ULONG>(connections.size()));
        break;
      }
      default:
        return {ERROR_NOT_FOUND, 0};
    }
    return ReplyBytes(request, reply.data(), static_cast<DWORD>(reply.size()));
  }

  vk::IoStatus NodeProperty(const vk::IoRequest& request, const KSPROPERTY& property) {
    if (property.Id != KSPROPERTY_AUDIO_VOLUMELEVEL && property.Id != KSPROPERTY_AUDIO_MUTE) {
      return {ERROR_NOT_FOUND, 0};
    }
    if (request.inputSize < sizeof(KSNODEPROPERTY_AUDIO_CHANNEL)) {
      return {ERROR_INVALID_PARAMETER, 0};
    }
    KSNODEPROPERTY_AUDIO_CHANNEL channelProperty;
    std::memcpy(&channelProperty, request.input, sizeof channelProperty);
    const FilterDescription& filter = Description();
    const ULONG node = channelProperty.NodeProperty.NodeId;
    const LONG channel = channelProperty.Channel;
    const GUID& wantedType =
        property.Id == KSPROPERTY_AUDIO_VOLUMELEVEL ? KSNODETYPE_VOLUME : KSNODETYPE_MUTE;
    if (node >= filter.nodes.size() || !SameGuid(filter.nodes[node], wantedType) || channel < 0 ||
        channel >= NodeChannels(filter)) {
      return {ERROR_INVALID_PARAMETER, 0};
    }
    auto& values = property.Id == KSPROPERTY_AUDIO_VOLUMELEVEL ? core_->volumes : core_->mutes;
    const auto key = std::make_tuple(filter_, node, channel);
    if ((property.Flags & KSPROPERTY_TYPE_SET) != 0) {
      LONG value = 0;
      if (!ReadSetValue(request, &value, sizeof value)) return {ERROR_INVALID_PARAMETER, 0};
      if (property.Id == KSPROPERTY_AUDIO_VOLUMELEVEL)
        value = std::clamp(value, kMinimumVolume, LONG{0});
      if (property.Id == KSPROPERTY_AUDIO_MUTE) value = value != 0 ? 1 : 0;
      values[key] = value;
      return {ERROR_SUCCESS, 0};
    }
    const auto found = values.find(key);
    return ReplyValue(request, found != values.end() ? found->second : LONG{0});
  }

  uint64_t generation_;
};

}  // namespace

namespace {

class FilterNode : public vk::DeviceNode {
 public:
  FilterNode(std::shared_ptr<Core> core, size_t filter) : core_(std::move(core)), filter_(filter) {}

  DWORD Open(std::shared_ptr<vk::FileObject>* file) override {
    std::lock_guard<std::mutex> guard(core_->lock);
    if (!core_->plugged) return ERROR_FILE_NOT_FOUND;
    *file = NewFilterFile(core_, filter_);
    return ERROR_SUCCESS;
  }

 private:
  std::shared_ptr<Core> core_;
  size_t filter_;
};

}  // namespace

std::shared_ptr<vk::DeviceNode> NewFilterNode(std::shared_ptr<Core> core, size_t filter) {
  return std::make_shared<FilterNode>(std::move(core), filter);
}

std::shared_ptr<vk::FileObject> NewFilterFile(std::shared_ptr<Core> core, size_t filter) {
  const uint64_t generation = core->generation;
  return std::make_shared<FilterFile>(std::move(core), filter, generation);
}

}  // namespace detail
}  // namespace vkx7
