// The library's resources on Linux, where there is no resource compiler: the control panel dialog
// from the shared layout and the version block, registered with the emulation when the library
// (or the program it is linked into) loads.
#include "platform/module_of.h"
#include "platform/windows.h"
#include "resources/PanelLayout.h"

namespace {

#define KX7_STRINGIZE(value) #value
#define KX7_IMAGE_NAME(value) "#" KX7_STRINGIZE(value)
#define KX7_TABLE_TEXT(cls, text, id, style, x, y, cx, cy, ex) \
  {cls, text, id, static_cast<DWORD>(style), static_cast<DWORD>(ex), x, y, cx, cy},
#define KX7_TABLE_IMAGE(cls, image, id, style, x, y, cx, cy, ex) \
  {cls, KX7_IMAGE_NAME(image), id, static_cast<DWORD>(style), static_cast<DWORD>(ex), x, y, cx, cy},

const EmuDialogControl kPanelControls[] = {KX7_PANEL_CONTROLS(KX7_TABLE_TEXT, KX7_TABLE_IMAGE)};

const EmuDialogTemplate kPanelDialog = {
    KX7_PANEL_STYLE,
    KX7_PANEL_EX_STYLE,
    KX7_PANEL_X,
    KX7_PANEL_Y,
    KX7_PANEL_WIDTH,
    KX7_PANEL_HEIGHT,
    KX7_PANEL_CAPTION,
    KX7_PANEL_FONT_SIZE,
    KX7_PANEL_FONT,
    kPanelControls,
    static_cast<int>(sizeof kPanelControls / sizeof kPanelControls[0]),
};

// VS_VERSIONINFO as the resource compiler lays it out, without the string tables.
struct VersionResource {
  WORD length;
  WORD valueLength;
  WORD type;
  char16_t key[16];
  WORD padding;
  VS_FIXEDFILEINFO value;
};
static_assert(sizeof(VersionResource) == 92, "VS_VERSIONINFO header and fixed part");

constexpr DWORD kVersionMS = (KX7_VERSION_MAJOR << 16) | KX7_VERSION_MINOR;
constexpr DWORD kVersionLS = (KX7_VERSION_PATCH << 16) | KX7_VERSION_BUILD;

const VersionResource kVersion = {
    sizeof(VersionResource),
    sizeof(VS_FIXEDFILEINFO),
    0,
    u"VS_VERSION_INFO",
    0,
    {VS_FFI_SIGNATURE, 0x00010000, kVersionMS, kVersionLS, kVersionMS, kVersionLS, 0x3F, 0,
     0x00040004 /* VOS_NT_WINDOWS32 */, 2 /* VFT_DLL */, 0, 0, 0},
};

struct Registration {
  HMODULE module = ModuleHolding(&kPanelDialog, false);
  Registration() {
    PlatformRegisterResource(module, RT_DIALOG, MAKEINTRESOURCEA(IDD_CONTROL_PANEL), &kPanelDialog,
                             sizeof kPanelDialog);
    PlatformRegisterResource(module, RT_VERSION, MAKEINTRESOURCEA(1), &kVersion, sizeof kVersion);
  }
  ~Registration() { PlatformUnregisterResources(module); }
} registration;

}  // namespace
