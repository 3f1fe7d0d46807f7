// KS values as a diagnosis report shows them: GUIDs with their published names, result codes
// with the error they fold, pin directions and states, and a pin's UTF-16 name.
#pragma once

#include <string>

#include "platform/ks.h"

namespace kx7host {

// "{6994AD04-93EF-11D0-A3CC-00A0C9223196}".
std::string GuidText(const GUID& guid);
// The published name of a GUID the report knows ("KSCATEGORY_AUDIO"), else "".
const char* GuidName(const GUID& guid);
// "{...} KSNODETYPE_VOLUME", or the bare GUID when it has no known name.
std::string NamedGuid(const GUID& guid);

// "0x80070016 (ERROR_BAD_COMMAND)", "0x00000000 (S_OK)", "0x80004005 (E_FAIL)".
std::string ResultText(HRESULT result);
// The name of a platform error number ("ERROR_NO_MATCH"), or its decimal value.
std::string ErrorName(DWORD error);

const char* CommunicationName(ULONG communication);  // "none", "sink", "source", "both", ...
const char* DataFlowName(ULONG dataFlow);            // "in", "out"
const char* StateName(ULONG state);                  // "KSSTATE_STOP" ...

// A UTF-16LE string of at most `bytes` bytes (ending at the first zero unit) as UTF-8.
std::string Utf16Text(const char* text, size_t bytes);

}  // namespace kx7host
