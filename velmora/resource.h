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

// Dialog 132, the Ethernet page, and the sheet.
inline constexpr char kCfgSheetCaption[] = "Configuration";
inline constexpr char kEthernetCaption[] = "Ethernet";
inline constexpr char kChangeEthernet[] = "Change Ethernet Setting";
inline constexpr char kIPAddressLabel[] = "IP Address";
inline constexpr char kIPNetmaskLabel[] = "IP Netmask";
inline constexpr char kIPGatewayLabel[] = "IP Gateway";
inline constexpr char kIPModeLabel[] = "IP Mode";
inline constexpr char kStaticIP[] = "Static IP";
inline constexpr int kChangeEthernetId = 1001;
inline constexpr int kIPAddressId = 1002;
inline constexpr int kIPNetmaskId = 1003;
inline constexpr int kIPGatewayId = 1004;
inline constexpr int kIPModeId = 1085;

// Dialog 134, the Serial page. The rate texts are strings 61218 to 61235, the rates of DSC_SERIAL_RATES.
inline constexpr char kSerialCaption[] = "Serial";
inline constexpr char kChangeSerial[] = "Change Serial Setting";
inline constexpr char kBaudRateLabel[] = "Baud rate:";
inline constexpr char kParityLabel[] = "Parity:";
inline constexpr char kDataBitsLabel[] = "Data bits:";
inline constexpr char kStopBitsLabel[] = "Stop bits:";
inline constexpr char kInterfaceTypeLabel[] = "Interface type";
inline constexpr const char* kParityChoices[] = {"None", "Even", "Odd"};
inline constexpr const char* kDataBitsChoices[] = {"5", "6", "7", "8"};
inline constexpr const char* kStopBitsChoices[] = {"1", "2"};
inline constexpr const char* kInterfaceChoices[] = {"RS232"};
inline constexpr int kChangeSerialId = 1006;
inline constexpr int kBaudRateId = 1019;
inline constexpr int kDataBitsId = 1020;
inline constexpr int kStopBitsId = 1021;
inline constexpr int kParityId = 1022;
inline constexpr int kInterfaceTypeId = 1023;

// Dialog 136, the System page.
inline constexpr char kSystemCaption[] = "System";
inline constexpr char kChangeSystem[] = "Change System Setting";
inline constexpr char kServerNameLabel[] = "Server name:";
inline constexpr char kPasswordLabel[] = "Password:";
inline constexpr char kConfirmLabel[] = "Confirm:";
inline constexpr char kPrivateKeyLabel[] = "Private key:";
inline constexpr int kChangeSystemId = 1012;
inline constexpr int kServerNameId = 1013;
inline constexpr int kNewPasswordId = 1015;
inline constexpr int kConfirmPasswordId = 1016;
inline constexpr int kPrivateKeyId = 1017;
inline constexpr int kConfirmPrivateKeyId = 1018;
inline constexpr int kServerNameLimit = 16;
inline constexpr int kNewPasswordLimit = 16;
inline constexpr int kPrivateKeyLimit = 15;
inline constexpr char kPasswordMismatch[] = "Confirm password different form password!";
inline constexpr char kPrivateKeyMismatch[] = "Confirm Private key different form Private key!";

// Upgrades and the erase.
inline constexpr char kUpgradeApplicationTitle[] = "Open Application File to download";
inline constexpr char kUpgradeKernelTitle[] = "Open Kernel File to download";
inline constexpr char kUpgradeFirmwareTitle[] = "Open Firmware File to download";
inline constexpr char kApFilter[] = "AP File (*.ap)";
inline constexpr char kKernelFilter[] = "Kernel File (*.rom)";
inline constexpr char kFirmwareFilter[] = "Firmware File (*.frm)";
inline constexpr char kUpgradingApplication[] = "Upgrade Application file...";
inline constexpr char kUpgradingKernel[] = "Upgrade Kernel file...";
inline constexpr char kUpgradingFirmware[] = "Upgrade Firmware file...";
inline constexpr char kUpgradeApOk[] = "Upgrade AP OK!";
inline constexpr char kUpgradeKernelOk[] = "Upgrade Kernel OK!";
inline constexpr char kUpgradeFirmwareOk[] = "Upgrade Firmware OK!";
inline constexpr char kUpgradeApFailed[] = "Upgrade AP Failed!";
inline constexpr char kUpgradeKernelFailed[] = "Upgrade Kernel Failed!";
inline constexpr char kUpgradeFirmwareFailed[] = "Upgrade Firmware Failed!";
inline constexpr char kWarningCaption[] = "Warning";
inline constexpr char kEraseQuestion[] =
    "Do you really want to erase the configuration on the system?\n\nSystem will start up with default settings!";

// Progress texts of the waiting window during an upload (stage 20 sending, stage 40 the device storing).
inline constexpr char kProgressSending[] = "Sending %p%";
inline constexpr char kProgressStoring[] = "Storing %p%";

// The commands that act on the selected row.
inline constexpr int kDeviceCommands[] = {kCmdConfiguration, kCmdUpgradeApplication, kCmdUpgradeKernel,
                                          kCmdUpgradeFirmware, kCmdEraseFlash};

}  // namespace velmora
