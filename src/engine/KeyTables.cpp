#include "engine/KeyTables.h"

#include <iterator>
#include <string_view>

namespace {

#define GLINT_HKLM_CLASSES "MACHINE\\Software\\Classes\\"
#define GLINT_ROOT_CLASSES "CLASSES_ROOT\\"
#define GLINT_IE "MACHINE\\Software\\Microsoft\\Internet Explorer\\"

// The broker: five older class / interface generations, then the current
// class, its interfaces (the bases carry marshalling keys too), its type
// library and the browser's elevation policy for the server.
#define GLINT_BROKER_CLASS GLINT_HKLM_CLASSES "CLSID\\{2A65DE33-3C6E-4A52-B974-4107B1D5E5B8}"
#define GLINT_BROKER_TYPELIB GLINT_HKLM_CLASSES "TypeLib\\{B0D84577-B68B-4CD1-BA72-817485349AA2}"
#define GLINT_BROKER_INTERFACE(iid)                                                                \
  GLINT_HKLM_CLASSES "Interface\\" iid, GLINT_HKLM_CLASSES "Interface\\" iid "\\ProxyStubClsid32", \
      GLINT_HKLM_CLASSES "Interface\\" iid "\\TypeLib"

constexpr const char* kBrokerTable[] = {
    GLINT_HKLM_CLASSES "CLSID\\{0FF11D9A-9B2D-413B-B009-72B69A1DF558}",
    GLINT_HKLM_CLASSES "Interface\\{231367C5-83B6-4841-A706-404F60795EEE}",
    GLINT_HKLM_CLASSES "CLSID\\{6378542F-EF4B-4900-ADF0-DF53F561CFCE}",
    GLINT_HKLM_CLASSES "Interface\\{F1E59052-2F8B-44C1-8C80-F6804BC3BCCB}",
    GLINT_HKLM_CLASSES "CLSID\\{FC868FE5-8701-4F3C-A60A-B55E0157FF53}",
    GLINT_HKLM_CLASSES "Interface\\{672585E7-3D85-4C43-8D23-7D3CB01457F6}",
    GLINT_HKLM_CLASSES "CLSID\\{90A7E220-9D98-46DC-8840-79E9C82BEFBD}",
    GLINT_HKLM_CLASSES "Interface\\{FA7D62F4-10EC-4048-A374-4BEFA09DB456}",
    GLINT_HKLM_CLASSES "CLSID\\{FA209778-CD55-42D0-BB8E-45483D0EF19C}",
    GLINT_HKLM_CLASSES "Interface\\{D9AC6119-A68E-4C78-BDAD-28D0E307CDB2}",
    GLINT_BROKER_CLASS,
    GLINT_BROKER_CLASS "\\Elevation",
    GLINT_BROKER_CLASS "\\LocalServer32",
    GLINT_BROKER_CLASS "\\Programmable",
    GLINT_BROKER_CLASS "\\TypeLib",
    GLINT_BROKER_INTERFACE("{420F7605-8E35-4CA7-AA06-E5B8FE9A1446}"),
    GLINT_HKLM_CLASSES "Interface\\{231367C5-83B6-4841-A706-404F60795EEE}\\ProxyStubClsid32",
    GLINT_HKLM_CLASSES "Interface\\{231367C5-83B6-4841-A706-404F60795EEE}\\TypeLib",
    GLINT_HKLM_CLASSES "Interface\\{F1E59052-2F8B-44C1-8C80-F6804BC3BCCB}\\ProxyStubClsid32",
    GLINT_HKLM_CLASSES "Interface\\{F1E59052-2F8B-44C1-8C80-F6804BC3BCCB}\\TypeLib",
    GLINT_HKLM_CLASSES "Interface\\{672585E7-3D85-4C43-8D23-7D3CB01457F6}\\ProxyStubClsid32",
    GLINT_HKLM_CLASSES "Interface\\{672585E7-3D85-4C43-8D23-7D3CB01457F6}\\TypeLib",
    GLINT_HKLM_CLASSES "Interface\\{FA7D62F4-10EC-4048-A374-4BEFA09DB456}\\ProxyStubClsid32",
    GLINT_HKLM_CLASSES "Interface\\{FA7D62F4-10EC-4048-A374-4BEFA09DB456}\\TypeLib",
    GLINT_HKLM_CLASSES "Interface\\{D9AC6119-A68E-4C78-BDAD-28D0E307CDB2}\\ProxyStubClsid32",
    GLINT_HKLM_CLASSES "Interface\\{D9AC6119-A68E-4C78-BDAD-28D0E307CDB2}\\TypeLib",
    GLINT_BROKER_TYPELIB,
    GLINT_BROKER_TYPELIB "\\1.0",
    GLINT_BROKER_TYPELIB "\\1.0\\0",
    GLINT_BROKER_TYPELIB "\\1.0\\0\\win32",
    GLINT_BROKER_TYPELIB "\\1.0\\FLAGS",
    GLINT_BROKER_TYPELIB "\\1.0\\HELPDIR",
    GLINT_IE "Low Rights\\ElevationPolicy\\{5D4F2C3A-8E61-4B7F-9A0D-2C6E1B38F7A4}",
};
static_assert(std::size(kBrokerTable) == 35);

// The control: three classes (the player, its settings object and its
// scriptable object), one type library, three interfaces.
#define GLINT_CAT_SCRIPTING "{7DD95801-9882-11CF-9FA9-00AA006C42C4}"
#define GLINT_CAT_INITIALIZING "{7DD95802-9882-11CF-9FA9-00AA006C42C4}"
#define GLINT_PLAYER_CLSID "{112EBC29-AF42-4D7B-8F4B-F59D45F130F6}"
#define GLINT_SETTINGS_CLSID "{9F4B9316-E32A-454D-97BB-B6AF377A70E8}"
#define GLINT_OBJECT_CLSID "{9F6ECE5E-C9A0-454C-819C-4E4C49974C74}"
#define GLINT_CONTROL_TYPELIB "TypeLib\\{FC407868-2A2E-4DE4-A044-71774AF9ABBC}"

#define GLINT_PLAYER_CLASS_KEYS(root)                                                        \
  root "CLSID\\" GLINT_PLAYER_CLSID, root "CLSID\\" GLINT_PLAYER_CLSID "\\Control",          \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\EnableFullPage",                                  \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\EnableFullPage\\.glnt",                           \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\EnableFullPage\\.glint",                          \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\Implemented Categories",                          \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\Implemented Categories\\" GLINT_CAT_SCRIPTING,    \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\Implemented Categories\\" GLINT_CAT_INITIALIZING, \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\InprocServer32",                                  \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\MiscStatus",                                      \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\MiscStatus\\1",                                   \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\ProgID",                                          \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\ToolboxBitmap32",                                 \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\TypeLib",                                         \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\Version",                                         \
      root "CLSID\\" GLINT_PLAYER_CLSID "\\VersionIndependentProgID"

#define GLINT_HELPER_CLASS_KEYS(root, clsid)                                        \
  root "CLSID\\" clsid, root "CLSID\\" clsid "\\Implemented Categories",            \
      root "CLSID\\" clsid "\\Implemented Categories\\" GLINT_CAT_SCRIPTING,        \
      root "CLSID\\" clsid "\\Implemented Categories\\" GLINT_CAT_INITIALIZING,     \
      root "CLSID\\" clsid "\\InprocServer32", root "CLSID\\" clsid "\\MiscStatus", \
      root "CLSID\\" clsid "\\ProgID", root "CLSID\\" clsid "\\Programmable",       \
      root "CLSID\\" clsid "\\TypeLib", root "CLSID\\" clsid "\\Version",           \
      root "CLSID\\" clsid "\\VersionIndependentProgID"

#define GLINT_CONTROL_TYPELIB_KEYS(root)                                                   \
  root GLINT_CONTROL_TYPELIB, root GLINT_CONTROL_TYPELIB "\\1.0",                          \
      root GLINT_CONTROL_TYPELIB "\\1.0\\0", root GLINT_CONTROL_TYPELIB "\\1.0\\0\\win64", \
      root GLINT_CONTROL_TYPELIB "\\1.0\\FLAGS", root GLINT_CONTROL_TYPELIB "\\1.0\\HELPDIR"

#define GLINT_CONTROL_INTERFACE(iid)                                                             \
  GLINT_ROOT_CLASSES "Interface\\" iid, GLINT_ROOT_CLASSES "Interface\\" iid "\\ProxyStubClsid", \
      GLINT_ROOT_CLASSES "Interface\\" iid "\\ProxyStubClsid32",                                 \
      GLINT_ROOT_CLASSES "Interface\\" iid "\\TypeLib"

#define GLINT_PROGID GLINT_ROOT_CLASSES "GlintPlayer.GlintPlayer"
#define GLINT_PROGID_1_TO_9                                                                      \
  GLINT_PROGID ".1", GLINT_PROGID ".2", GLINT_PROGID ".3", GLINT_PROGID ".4", GLINT_PROGID ".5", \
      GLINT_PROGID ".6", GLINT_PROGID ".7", GLINT_PROGID ".8", GLINT_PROGID ".9"
#define GLINT_PROGID_DECADE(d)                                                   \
  GLINT_PROGID "." #d "0", GLINT_PROGID "." #d "1", GLINT_PROGID "." #d "2",     \
      GLINT_PROGID "." #d "3", GLINT_PROGID "." #d "4", GLINT_PROGID "." #d "5", \
      GLINT_PROGID "." #d "6", GLINT_PROGID "." #d "7", GLINT_PROGID "." #d "8", \
      GLINT_PROGID "." #d "9"

constexpr const char* kControlTable[] = {
    GLINT_PLAYER_CLASS_KEYS(GLINT_ROOT_CLASSES),
    GLINT_HELPER_CLASS_KEYS(GLINT_ROOT_CLASSES, GLINT_SETTINGS_CLSID),
    GLINT_HELPER_CLASS_KEYS(GLINT_ROOT_CLASSES, GLINT_OBJECT_CLSID),
    GLINT_CONTROL_INTERFACE("{7EA88947-A1F9-40B7-92BA-8CC2E37DD256}"),
    GLINT_CONTROL_INTERFACE("{DCF1D777-A379-4019-8F98-533507CE7320}"),
    GLINT_CONTROL_INTERFACE("{4FAAED57-56C3-4289-9027-E7640DF94BB2}"),
    GLINT_CONTROL_TYPELIB_KEYS(GLINT_ROOT_CLASSES),
    GLINT_ROOT_CLASSES ".glnt",
    GLINT_ROOT_CLASSES ".glnt\\OpenWithProgids",
    GLINT_ROOT_CLASSES ".glint",
    GLINT_ROOT_CLASSES ".glint\\OpenWithProgids",
    // Program ids and MIME types: the part the Users group reads.
    GLINT_PROGID,
    GLINT_PROGID "\\CLSID",
    GLINT_PROGID "\\CurVer",
    GLINT_PROGID_1_TO_9,
    GLINT_PROGID_DECADE(1),
    GLINT_PROGID_DECADE(2),
    GLINT_PROGID ".30",
    GLINT_PROGID ".31",
    GLINT_PROGID ".32",
    GLINT_PROGID ".33",
    GLINT_PROGID ".34",
    GLINT_ROOT_CLASSES "GlintPlayer.GlintSettings",
    GLINT_ROOT_CLASSES "GlintPlayer.GlintSettings\\CLSID",
    GLINT_ROOT_CLASSES "GlintPlayer.GlintSettings\\CurVer",
    GLINT_ROOT_CLASSES "GlintPlayer.GlintSettings.1",
    GLINT_ROOT_CLASSES "GlintPlayer.GlintSettings.1\\CLSID",
    GLINT_ROOT_CLASSES "GlintPlayer.GlintObject",
    GLINT_ROOT_CLASSES "GlintPlayer.GlintObject\\CLSID",
    GLINT_ROOT_CLASSES "GlintPlayer.GlintObject\\CurVer",
    GLINT_ROOT_CLASSES "GlintPlayer.GlintObject.1",
    GLINT_ROOT_CLASSES "GlintPlayer.GlintObject.1\\CLSID",
    GLINT_ROOT_CLASSES "MIME\\Database\\Content Type\\application/x-glint-player",
    GLINT_ROOT_CLASSES "MIME\\Database\\Content Type\\application/x-glint-media",
    // End of the Users-read part.
    GLINT_IE "Plugins\\Extension\\.glnt",
    GLINT_IE "Plugins\\Extension\\.glint",
    GLINT_IE "Plugins\\MIME\\application/x-glint-player",
    GLINT_IE "Plugins\\MIME\\application/x-glint-media",
    GLINT_IE "ActiveX Compatibility\\" GLINT_PLAYER_CLSID,
    GLINT_IE "ActiveX Compatibility\\" GLINT_SETTINGS_CLSID,
    GLINT_IE "ActiveX Compatibility\\" GLINT_OBJECT_CLSID,
    "MACHINE\\Software\\Kestrelink",
    "MACHINE\\Software\\Kestrelink\\GlintPlayer",
    "MACHINE\\Software\\Kestrelink\\GlintPlayer\\SafeVersions",
    "MACHINE\\Software\\Kestrelink\\GlintPlayerActiveX",
    "MACHINE\\Software\\Kestrelink\\GlintPlayerActiveXReleaseType",
    "MACHINE\\Software\\Kestrelink\\GlintPlayerUpdate",
    GLINT_IE "Low Rights\\ElevationPolicy\\{CFE09E17-B025-4BD4-8577-81757CE82950}",
};
static_assert(std::size(kControlTable) == 123);
constexpr std::size_t kUsersReadFirst = 60;
constexpr std::size_t kUsersReadCount = 49;
static_assert(std::string_view(kControlTable[kUsersReadFirst]) == GLINT_PROGID);
static_assert(std::string_view(kControlTable[kUsersReadFirst + kUsersReadCount - 1]) ==
              GLINT_ROOT_CLASSES "MIME\\Database\\Content Type\\application/x-glint-media");
static_assert(std::string_view(kControlTable[kUsersReadFirst + kUsersReadCount])
                  .starts_with(GLINT_IE "Plugins"));

constexpr const char* kControlMachineTable[] = {
    GLINT_PLAYER_CLASS_KEYS(GLINT_HKLM_CLASSES),
    GLINT_HELPER_CLASS_KEYS(GLINT_HKLM_CLASSES, GLINT_SETTINGS_CLSID),
    GLINT_HELPER_CLASS_KEYS(GLINT_HKLM_CLASSES, GLINT_OBJECT_CLSID),
    GLINT_CONTROL_TYPELIB_KEYS(GLINT_HKLM_CLASSES),
};
static_assert(std::size(kControlMachineTable) == 44);

}  // namespace

const char kControlClassId[] = GLINT_PLAYER_CLSID;

namespace {

constexpr std::string_view kClassesRootPrefix = "CLASSES_ROOT\\";
constexpr std::string_view kMachinePrefix = "MACHINE\\";

}  // namespace

std::span<const char* const> KeyTableEntries(KeyTable table) {
  switch (table) {
    case KeyTable::kBroker:
      return kBrokerTable;
    case KeyTable::kControl:
      return kControlTable;
    case KeyTable::kControlMachine:
      return kControlMachineTable;
  }
  return {};
}

std::span<const char* const> ControlUsersReadEntries() {
  return std::span<const char* const>(kControlTable).subspan(kUsersReadFirst, kUsersReadCount);
}

bool SplitKeyEntry(std::string_view entry, KeyRoot* root, std::string_view* path) {
  if (entry.size() > kMaxKeyEntryBytes) return false;
  std::string_view rest;
  if (entry.starts_with(kClassesRootPrefix)) {
    *root = KeyRoot::kClassesRoot;
    rest = entry.substr(kClassesRootPrefix.size());
  } else if (entry.starts_with(kMachinePrefix)) {
    *root = KeyRoot::kMachine;
    rest = entry.substr(kMachinePrefix.size());
  } else {
    return false;
  }
  if (rest.empty()) return false;
  *path = rest;
  return true;
}
