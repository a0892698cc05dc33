// Shared by the transfer and bank tests: the emulator on 127.0.0.2 with a
// logged-in session, a progress recorder and files in a temporary directory.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "frame.h"
#include "lab/lab.h"
#include "tarnix.h"

namespace transfer_test {

using Bytes = std::vector<uint8_t>;

struct Call {
  uint32_t code;
  int32_t stage;
  int32_t percent;
  int32_t upgrade_timeout;  // the session's, at the time of the call
};

// One recorder for the whole process: progress procedures are plain functions.
struct Recorder {
  std::vector<Call> calls;
  int32_t session = -1;
  int32_t cancel_stage = -1;  // the first call of this stage returns 0
  // Percentages of one stage, in order.
  std::vector<int32_t> percents(int32_t stage) const {
    std::vector<int32_t> out;
    for (const Call& c : calls)
      if (c.stage == stage) out.push_back(c.percent);
    return out;
  }
};
inline Recorder g_recorder;

inline int32_t DSC_CALL record_progress(uint32_t code, int32_t stage, int32_t percent, int32_t) {
  const tarnix::Session* s = tarnix::checked_session(g_recorder.session);
  g_recorder.calls.push_back({code, stage, percent, s != nullptr ? s->timing.upgrade_timeout : 0});
  return stage == g_recorder.cancel_stage ? 0 : 1;
}

inline uint32_t fnv1a(const Bytes& b) {
  uint32_t h = 2166136261u;
  for (uint8_t c : b) h = (h ^ c) * 16777619u;
  return h;
}

inline Bytes pattern(size_t n, uint8_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 13 + seed);
  return b;
}

class DeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/tarnix-transfer-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    g_recorder = Recorder{};
  }
  void TearDown() override {
    stop();
    for (const std::string& f : files_) std::remove(f.c_str());
    rmdir(dir_.c_str());
  }

  void start(const std::string& keys = "", bool login = true) {
    stop();
    std::string error;
    devsim_ = lab::Devsim::Start(
        {"--device", "name=t,ip=127.0.0.2,app=0x80004100,model=0x4512,mac=02:00:5e:00:00:0e,pw=pw" + keys}, "", &error);
    ASSERT_NE(devsim_, nullptr) << error;
    DSINFO d{};
    d.app_id = 0x80004100u;
    d.model = 0x4512;
    d.flags = DSC_FLAG_DIRECT;
    d.device_ip = inet_addr("127.0.0.2");
    d.mac[0] = 0x02;
    d.mac[2] = 0x5e;
    d.mac[5] = 0x0e;
    ASSERT_EQ(dsc_Attach(&d, &session_), DSC_OK);
    ASSERT_EQ(dsc_LibSetTimeout(session_, 300, 2), DSC_OK);
    ASSERT_EQ(dsc_LibSetUpgTimeout(session_, 2000), DSC_OK);
    g_recorder = Recorder{};
    g_recorder.session = session_;
    if (login) {
      ASSERT_EQ(dsc_Login(session_, "pw"), DSC_OK);
    }
    ASSERT_EQ(dsc_LibSetProc(session_, record_progress, 7), DSC_OK);
  }
  void stop() {
    if (session_ >= 0) dsc_Detach(session_);
    session_ = -1;
    devsim_.reset();
  }

  std::string write_file(const std::string& name, const Bytes& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                               static_cast<std::streamsize>(bytes.size()));
    files_.push_back(path);
    return path;
  }

  // Channel frames received after the login, raw data and markers left out.
  std::vector<Bytes> frames() const {
    std::vector<Bytes> out;
    for (const auto& e : devsim_->Received())
      if (e.local_port == 4900 && !e.bytes.empty() && e.bytes[0] > 1) out.push_back(e.bytes);
    return out;
  }
  std::vector<Bytes> sent_frames() const {
    std::vector<Bytes> out;
    for (const auto& e : devsim_->Log())
      if (!e.rx && e.local_port == 4900 && !e.bytes.empty() && e.bytes[0] > 1) out.push_back(e.bytes);
    return out;
  }
  // Every marker entry named like prefix, in order.
  std::vector<lab::LogEntry> markers(const std::string& prefix) const {
    std::vector<lab::LogEntry> out;
    for (const auto& e : devsim_->Log())
      if (e.marker.rfind(prefix, 0) == 0) out.push_back(e);
    return out;
  }
  size_t upload_bytes() const {
    size_t n = 0;
    for (const auto& e : markers("upload-data")) n += e.count;
    return n;
  }
  // Waits (bounded) until the device has logged at least n bytes of upload data.
  size_t await_upload_bytes(size_t n) const {
    for (int i = 0; i < 100 && upload_bytes() < n; ++i) devsim_->WaitReceived(devsim_->Received().size() + 1, 10);
    return upload_bytes();
  }

  std::unique_ptr<lab::Devsim> devsim_;
  int32_t session_ = -1;
  std::string dir_;
  std::vector<std::string> files_;
};

}  // namespace transfer_test
