#pragma once

// A main window with one emulated device on 127.0.0.2 (the test's private namespace), found by IP and selected,
// and the channel frames the device received.

#include <QEvent>

#include <memory>
#include <string>
#include <vector>

#include "fixture.h"
#include "lab/lab.h"

using Bytes = std::vector<uint8_t>;

// Counts the commands posted to the view (its only queued calls) and keeps them from running: a broadcast refresh
// in a namespace with loopback alone finds nothing useful and only costs time.
class PostedCommands : public QObject {
 public:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() != QEvent::MetaCall) return false;
    ++count;
    return true;
  }
  int count = 0;
};

class DeviceTest : public VelmoraTest {
 protected:
  static constexpr char kUnit[] =
      "name=unit,ip=127.0.0.2,app=0x80004012,model=0x4512,mac=02:00:5e:00:00:02,devname=Hall-7,"
      "apname=serial-bridge,apver=0x01020300,kver=0x02010000";
  static constexpr uint32_t kUnitAddress = Host(127, 0, 0, 2);

  void SetUp() override {
    VelmoraTest::SetUp();
    view().installEventFilter(&posted_);
  }
  void TearDown() override {
    view().removeEventFilter(&posted_);
    VelmoraTest::TearDown();
  }

  // Starts the device with kUnit plus `extra` keys, finds it by IP and clicks its row.
  void StartAndSelect(const std::string& extra = "") {
    std::string error;
    devsim_ = lab::Devsim::Start({"--device", std::string(kUnit) + extra}, "", &error);
    ASSERT_NE(devsim_, nullptr) << error;
    SearchAndSelect();
  }
  void SearchAndSelect() {
    prompts_.scripts.push_back(SearchAt(kUnitAddress));
    frame_->OnCommand(velmora::kCmdSearchByIP);
    ASSERT_EQ(rows(), 1) << prompts_.messages.join("|").toStdString();
    ClickRow(0);
    ASSERT_TRUE(view().HasSelection());
    prompts_.messages.clear();
  }

  // The frames the device received on its session channel, in order.
  std::vector<Bytes> Frames() const {
    std::vector<Bytes> out;
    for (const lab::LogEntry& e : devsim_->Received()) {
      if (e.local_port == 4900 && !e.bytes.empty()) out.push_back(e.bytes);
    }
    return out;
  }
  std::vector<int> Codes() const {
    std::vector<int> out;
    for (const Bytes& f : Frames()) out.push_back(f[0]);
    return out;
  }
  // Payload of each received frame of `code`.
  std::vector<Bytes> Payloads(int code) const {
    std::vector<Bytes> out;
    for (const Bytes& f : Frames()) {
      if (f[0] == code) out.emplace_back(f.begin() + 4, f.end());
    }
    return out;
  }
  int Connections() const {
    int n = 0;
    for (const lab::LogEntry& e : devsim_->Received()) n += e.marker == "tcp-open" ? 1 : 0;
    return n;
  }

  // The commands posted to the view so far (delivered to the filter, which holds them back).
  int Posted() {
    QCoreApplication::sendPostedEvents(&view(), QEvent::MetaCall);
    return posted_.count;
  }

  PostedCommands posted_;
  std::unique_ptr<lab::Devsim> devsim_;
};

// Channel command codes as the device sees them.
enum ChannelCode : int {
  kChallenge = 0,
  kLoginCode = 1,
  kSaveRestart = 2,
  kSetNameCode = 16,
  kSetPasswordCode = 17,
  kSetIPCode = 33,
  kSetNetmaskCode = 34,
  kSetGatewayCode = 35,
  kSetIPConfigCode = 36,
  kSetSerialIOCtlCode = 0x31,
  kSetSerialInterfaceCode = 0x34,
};
