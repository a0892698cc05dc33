#pragma once

// A fixture for export tests against the emulator on loopback: one device, one attached session, optionally
// logged in, and the requests the device received.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "lab/lab.h"
#include "tarnix.h"

namespace devsim_session {

using Bytes = std::vector<uint8_t>;

inline std::string Hex(const Bytes& b) {
  static const char* digits = "0123456789abcdef";
  std::string s;
  for (uint8_t v : b) {
    s += digits[v >> 4];
    s += digits[v & 15];
  }
  return s;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

inline Bytes Text(const std::string& s, size_t width) {
  Bytes b(s.begin(), s.end());
  b.resize(width, 0);
  return b;
}

// The device's identity as it travels in bytes 8-19 of every query.
inline const Bytes kIdentity = {0x00, 0x41, 0x00, 0x80, 0x12, 0x45, 0x02, 0x00, 0x5e, 0x00, 0x00, 0x0d};

class Session : public ::testing::Test {
 protected:
  // Starts the emulator with extra keys (each beginning with a comma), attaches the device with that
  // model code, and logs in unless told not to.
  void Start(const std::string& keys = "", bool login = true, uint16_t model = 0x4512) {
    std::string error;
    char model_key[32];
    std::snprintf(model_key, sizeof model_key, ",model=0x%04x", model);
    devsim_ = lab::Devsim::Start(
        {"--device", std::string("name=s,ip=127.0.0.2,app=0x80004100,mac=02:00:5e:00:00:0d,pw=pw") + model_key + keys},
        "", &error);
    ASSERT_NE(devsim_, nullptr) << error;
    DSINFO d{};
    d.app_id = 0x80004100u;
    d.model = model;
    d.flags = DSC_FLAG_DIRECT;
    d.device_ip = inet_addr("127.0.0.2");
    d.local_ip = inet_addr("127.0.0.1");
    const uint8_t mac[6] = {0x02, 0x00, 0x5e, 0x00, 0x00, 0x0d};
    std::memcpy(d.mac, mac, 6);
    ASSERT_EQ(dsc_Attach(&d, &session_), DSC_OK);
    ASSERT_EQ(dsc_LibSetTimeout(session_, 300, 2), DSC_OK);
    if (login) {
      ASSERT_EQ(dsc_Login(session_, "pw"), DSC_OK);
    }
  }
  void Stop() {
    if (session_ >= 0) dsc_Detach(session_);
    session_ = -1;
    devsim_.reset();
  }
  void TearDown() override { Stop(); }

  // Reply bytes from 20 that the device is told to send for a query code.
  static std::string Payload(int code, const Bytes& bytes) { return ",payload" + std::to_string(code) + "=" + Hex(bytes); }

  // Channel frames after the login.
  std::vector<Bytes> Frames() const {
    std::vector<Bytes> out;
    for (const auto& e : devsim_->Received())
      if (e.local_port == 4900 && !e.bytes.empty() && e.bytes[0] > 1) out.push_back(e.bytes);
    return out;
  }
  // Query datagrams.
  std::vector<Bytes> Queries() const {
    std::vector<Bytes> out;
    for (const auto& e : devsim_->Received())
      if (e.local_port == 4800) out.push_back(e.bytes);
    return out;
  }

  std::unique_ptr<lab::Devsim> devsim_;
  int32_t session_ = -1;
};

}  // namespace devsim_session
