#pragma once

// Velmora's resources: command numbers, captions and every text the user sees, kept in one place so that
// they stay exactly as the product has them (typos included).

namespace velmora {

// Command numbers of the menus.
enum Command : int {
  kCmdBroadcastSearch = 32771,
  kCmdSearchByIP = 32772,
  kCmdConfiguration = 32773,
  kCmdUpgradeApplication = 32776,
  kCmdUpgradeKernel = 32777,
  kCmdUpgradeFirmware = 32778,
  kCmdEraseFlash = 32784,
  kCmdAppAbout = 57664,
  kCmdAppExit = 57665,
};

// String 57344: application title, caption of every message box, second key level of the profile.
inline constexpr char kAppTitle[] = "Halvesk";
inline constexpr char kProfileCompany[] = "Orvik";
inline constexpr char kDocumentString[] = "Velmora\n\nVelmora\n\n\nVelmora.Document\nVelmora Document";

// Profile section and values of the remembered address list.
inline constexpr char kProfileSection[] = "Cfg";
inline constexpr char kProfileIpListCount[] = "IpListCount";
inline constexpr char kProfileAdrFormat[] = "Adr%d";

// Message texts.
inline constexpr char kFailFormat[] = "%s() fail, error code: %d.";
inline constexpr char kErrorCreatingDialog[] = "Error Creating Dialog Object";
inline constexpr char kNeedPassword[] = "Can not continue without the rigth password!";
inline constexpr char kNothingFound[] = "Not any Tervo found !";

// Waiting window captions of the searches.
inline constexpr char kBroadcastSearching[] = "Broadcast Searching...";
inline constexpr char kSearchingByIP[] = "Searching by IP Address...";

// Dialog 133, the waiting window.
inline constexpr char kWaitText[] = "Please Waiting......";
inline constexpr int kWaitTextId = 1002;

// Dialog 135, the password prompt.
inline constexpr char kPasswordCaption[] = "Password Check";
inline constexpr char kPasswordLine1[] = "Please Enter Password of the Device";
inline constexpr char kPasswordLine2[] = "befor login Device Server";
inline constexpr int kPasswordEditId = 1001;
inline constexpr int kMaxPasswordLength = 16;

// Dialog 100, the About box.
inline constexpr char kAboutCaption[] = "About Velmora";
inline constexpr char kAboutText[] = "Velmora Version 1.03";

// Dialog 131, Search by IP Address.
inline constexpr char kSearchIPCaption[] = "Search by IP Address";
inline constexpr char kSearchIPLabel[] = "IP Address:";
inline constexpr char kSearchIPGroup[] = "IP Address List";
inline constexpr char kSearchIPAdd[] = "Add";
inline constexpr char kSearchIPRemove[] = "Remove";
inline constexpr int kSearchIPAddressId = 1000;
inline constexpr int kSearchIPListId = 1003;
inline constexpr int kSearchIPAddId = 1004;
inline constexpr int kSearchIPRemoveId = 1005;

inline constexpr char kOk[] = "OK";
inline constexpr char kCancel[] = "Cancel";

// The device list's columns.
struct Column {
  const char* title;
  int width;
};
inline constexpr Column kColumns[] = {
    {"Agent Name", 100},       {"IP Address", 115},          {"MAC Address", 120},    {"Application Name", 110},
    {"Application ID", 110},   {"Application Version", 110}, {"Kernel Version", 110}, {"Operation Mode", 110},
};
inline constexpr int kColumnCount = sizeof kColumns / sizeof kColumns[0];

// Texts of the "Operation Mode" column by environment mode.
inline constexpr char kRunningMode[] = "Running Mode";
inline constexpr char kDevelopmentMode[] = "Development Mode";
inline constexpr char kUnknownMode[] = "Unknown";

// Menu 129 (menu 128 and "Erase Flash") plus a Help popup. A prompt's text after '\n' is its tool tip.
struct MenuItem {
  const char* popup;  // null: a top-level item
  const char* text;   // null: a separator
  int command;
  const char* prompt;
};
inline constexpr MenuItem kMenu[] = {
    {"&Search", "&Broadcast Search", kCmdBroadcastSearch, "search local ethernet network not across router"},
    {"&Search", "&Search by IP", kCmdSearchByIP, "use assign IP address to search"},
    {"&Search", nullptr, 0, nullptr},
    {"&Search", "E&xit", kCmdAppExit, "Quit the application; prompts to save documents\nExit"},
    {nullptr, "&Configuration", kCmdConfiguration, "configuration"},
    {"&Upgrade", "&Application", kCmdUpgradeApplication, "to upgrade user application"},
    {"&Upgrade", "&Kernel", kCmdUpgradeKernel, "to upgrade kernel"},
    {"&Upgrade", "&Firmware", kCmdUpgradeFirmware, "to upgrade user application and kernel"},
    {nullptr, "Erase Flash", kCmdEraseFlash, nullptr},
    {"&Help", "&About Velmora...", kCmdAppAbout, nullptr},
};

// The commands that act on the selected row.
inline constexpr int kDeviceCommands[] = {kCmdConfiguration, kCmdUpgradeApplication, kCmdUpgradeKernel,
                                          kCmdUpgradeFirmware, kCmdEraseFlash};

}  // namespace velmora
