#include "host/diagnose/FilterSurvey.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "host/diagnose/KsText.h"
#include "ks/KsLayer.h"

namespace kx7host {

namespace {

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// The paths (and friendly names) of the audio filters that are also in `alias`, or of all
// audio filters when `alias` is null; none are opened.
std::vector<std::pair<std::string, std::string>> AudioFiltersIn(const GUID* alias) {
  std::vector<std::pair<std::string, std::string>> found;
  std::unique_ptr<CKsEnumFilters> enumerator(KsNewEnumFilters());
  if (enumerator == nullptr) return found;
  const GUID categories[2] = {KSCATEGORY_AUDIO, alias != nullptr ? *alias : KSCATEGORY_AUDIO};
  const ULONG count = alias != nullptr ? 2 : 1;
  if (FAILED(enumerator->EnumFilters(FilterTypeUnknown, categories, count, FALSE, FALSE, FALSE))) {
    return found;
  }
  for (CKsFilter* filter : enumerator->m_Filters) {
    found.emplace_back(filter->m_szFilterName, filter->m_szFriendlyName);
  }
  return found;
}

bool Holds(const std::vector<std::pair<std::string, std::string>>& filters,
           const std::string& path) {
  return std::any_of(filters.begin(), filters.end(),
                     [&](const auto& filter) { return filter.first == path; });
}

DataRangeListing ReadRange(const BYTE* range) {
  DataRangeListing listing;
  listing.header = KsReadDataRange(range);
  listing.hasAttributes = (listing.header.Flags & KSDATARANGE_ATTRIBUTES) != 0;
  // The walk only hands out ranges that lie wholly inside the reply, FormatSize bytes each.
  listing.isAudio = SameGuid(listing.header.MajorFormat, KSDATAFORMAT_TYPE_AUDIO) &&
                    listing.header.FormatSize >= sizeof(KSDATARANGE_AUDIO);
  if (listing.isAudio) std::memcpy(&listing.audio, range, sizeof listing.audio);
  return listing;
}

PinListing ReadPin(CKsFilter* filter, ULONG id) {
  PinListing listing;
  listing.id = id;
  HRESULT hr = E_FAIL;
  CKsPin pin(filter, id, &hr);
  listing.complete = hr == S_OK;
  const KsPinDescriptor& descriptor = *pin.GetPinDescriptor();
  listing.communication = descriptor.Communication;
  listing.dataFlow = descriptor.DataFlow;
  for (ULONG i = 0; i < descriptor.cInterfaces; ++i) {
    listing.interfaces.push_back(descriptor.pInterfaces[i]);
  }
  for (ULONG i = 0; i < descriptor.cMediums; ++i) listing.mediums.push_back(descriptor.pMediums[i]);
  listing.instances = descriptor.CInstances;
  listing.globalInstances = descriptor.CInstancesGlobal;
  listing.category = pin.m_guidCategory;
  listing.name = Utf16Text(pin.m_szName, sizeof pin.m_szName);
  CKsDataRangeWalk walk(descriptor.pDataRanges, descriptor.cDataRanges);
  while (const BYTE* range = walk.Next()) listing.dataRanges.push_back(ReadRange(range));
  return listing;
}

std::vector<KSTOPOLOGY_CONNECTION> ReadConnections(CKsFilter* filter, HRESULT* result) {
  std::vector<KSTOPOLOGY_CONNECTION> connections;
  PKSMULTIPLE_ITEM reply = nullptr;
  ULONG size = 0;
  *result = filter->GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_CONNECTIONS, &reply,
                                     &size);
  if (SUCCEEDED(*result) && reply != nullptr) {
    const ULONG count = KsFittingItems(reply, size, sizeof(KSTOPOLOGY_CONNECTION));
    connections.resize(count);
    if (count > 0) {
      std::memcpy(connections.data(), reinterpret_cast<BYTE*>(reply) + sizeof(KSMULTIPLE_ITEM),
                  count * sizeof(KSTOPOLOGY_CONNECTION));
    }
  }
  KsFreeReply(reply);
  return connections;
}

}  // namespace

std::vector<FilterListing> ListAudioFilters(const std::string& capturePick,
                                            const std::string& renderPick) {
  const auto render = AudioFiltersIn(&KSCATEGORY_RENDER);
  const auto capture = AudioFiltersIn(&KSCATEGORY_CAPTURE);
  const auto realtime = AudioFiltersIn(&KSCATEGORY_REALTIME);
  const auto topology = AudioFiltersIn(&KSCATEGORY_TOPOLOGY);
  std::vector<FilterListing> listings;
  for (const auto& [path, friendlyName] : AudioFiltersIn(nullptr)) {
    FilterListing listing;
    listing.path = path;
    listing.friendlyName = friendlyName;
    listing.render = Holds(render, path);
    listing.capture = Holds(capture, path);
    listing.realtime = Holds(realtime, path);
    listing.topology = Holds(topology, path);
    listing.kx7 = KsPathHasHardwareId(path.c_str(), g_szKx7HardwareId) != FALSE;
    listing.pickedForCapture = !capturePick.empty() && path == capturePick;
    listing.pickedForRender = !renderPick.empty() && path == renderPick;
    listings.push_back(listing);
  }
  return listings;
}

FilterDetails ReadFilterDetails(const std::string& path) {
  FilterDetails details;
  details.path = path;
  HRESULT hr = E_FAIL;
  // A plain filter: every pin is read, none is classified away or created.
  CKsFilter filter(path.c_str(), &hr);
  details.openResult = FAILED(hr) ? hr : filter.Instantiate();
  if (FAILED(details.openResult)) return details;
  details.nodesResult = filter.EnumerateNodes();
  for (CKsNode* node : filter.m_Nodes) details.nodes.push_back(node->GetType());
  details.connections = ReadConnections(&filter, &details.connectionsResult);
  ULONG count = 0;
  details.pinsResult =
      filter.GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &count, sizeof count);
  if (SUCCEEDED(details.pinsResult)) {
    count = std::min<ULONG>(count, KS_MAX_PIN_TYPES);
    for (ULONG id = 0; id < count; ++id) details.pins.push_back(ReadPin(&filter, id));
  }
  return details;
}

bool OffersStandardStreaming(const PinListing& pin) {
  if (pin.communication != KSPIN_COMMUNICATION_SINK &&
      pin.communication != KSPIN_COMMUNICATION_BOTH) {
    return false;
  }
  return std::any_of(pin.interfaces.begin(), pin.interfaces.end(), [](const KSPIN_INTERFACE& item) {
    return SameGuid(item.Set, KSINTERFACESETID_Standard) &&
           item.Id == KSINTERFACE_STANDARD_STREAMING;
  });
}

std::string PickReason(const FilterListing& filter, const FilterDetails* details) {
  if (!filter.kx7) {
    return std::string("not the KX-7: its path does not hold ") + g_szKx7HardwareId;
  }
  if (filter.pickedForCapture || filter.pickedForRender) {
    std::string role = filter.pickedForCapture && filter.pickedForRender ? "capture and render"
                       : filter.pickedForCapture                         ? "capture"
                                                                         : "render";
    return "the driver's " + role + " filter: the first audio filter with the " + role +
           " alias whose path holds " + g_szKx7HardwareId +
           " and whose sink pin it can stream through";
  }
  const bool streamable =
      details != nullptr &&
      std::any_of(details->pins.begin(), details->pins.end(),
                  [](const PinListing& pin) { return OffersStandardStreaming(pin); });
  if (!filter.render && !filter.capture) {
    return "passed over: registered under neither KSCATEGORY_CAPTURE nor KSCATEGORY_RENDER";
  }
  if (details != nullptr && FAILED(details->openResult)) {
    return "passed over: it could not be opened";
  }
  if (details != nullptr && !streamable) {
    return filter.realtime ? "passed over: a real-time filter whose pins offer looped streaming "
                             "only, which the driver cannot stream through"
                           : "passed over: no pin offers standard streaming";
  }
  return "passed over: the driver took an earlier filter of the device";
}

}  // namespace kx7host
