// Configuration uploads, configuration and log downloads, and the bank
// commands against the emulator on loopback.
#include <cstring>
#include <functional>

#include "bank.h"
#include "result.h"
#include "transfer_fixture.h"

namespace {

using namespace transfer_test;

class Download : public DeviceTest {
 protected:
  Bytes full_log() {
    Bytes all(1 << 16);
    uint32_t total = 0;
    EXPECT_EQ(dsc_RecvLog(session_, all.data(), static_cast<uint32_t>(all.size()), &total), DSC_OK);
    all.resize(total);
    return all;
  }
};

TEST_F(Download, LogKeepsWhatFitsAndDropsTheRest) {
  const struct {
    uint32_t size, capacity;
    std::vector<int32_t> reports;  // stage 20: one before every receive
  } cases[] = {
      {1500, 1000, {0, 17, 34, 51, 66}},               // 500 dropped in one receive
      {300, 4096, {0, 85}},                            // 256 + 44
      {6000, 1000, {0, 4, 8, 12, 16, 33, 50, 67, 84}},  // 5000 dropped in five receives of at most 1024
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    start(",log_size=" + std::to_string(c.size));
    const Bytes log = full_log();
    ASSERT_EQ(log.size(), c.size);
    g_recorder.calls.clear();
    Bytes buffer(c.capacity + 16, 0xAB);
    uint32_t total = 0;
    ASSERT_EQ(dsc_RecvLog(session_, buffer.data(), c.capacity, &total), DSC_OK);
    EXPECT_EQ(total, c.size);
    const size_t kept = std::min(c.size, c.capacity);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + kept), Bytes(log.begin(), log.begin() + kept));
    EXPECT_EQ(buffer[c.capacity], 0xAB) << "nothing beyond the capacity";
    EXPECT_EQ(g_recorder.percents(20), c.reports);
    for (const Call& call : g_recorder.calls) EXPECT_EQ(call.code, 0x8000000Du);
    EXPECT_EQ(full_log(), log) << "the channel is still in step";
  }
}

TEST_F(Download, DataThatStopArrivingTimeOutKeepingWhatCame) {
  start(",config_size=1000,data_cut=100");
  ASSERT_EQ(dsc_LibSetTimeout(session_, 100, 1), DSC_OK);
  Bytes buffer(1000, 0xAB);
  EXPECT_EQ(dsc_RecvAPConfig(session_, buffer.data(), 1000), DSC_ETIMEOUT);
  for (size_t i = 0; i < 100; ++i) ASSERT_EQ(buffer[i], static_cast<uint8_t>(i * 31 + 7)) << i;
  EXPECT_EQ(buffer[100], 0xAB);
  uint32_t total = 0;
  start(",log_size=1000,data_cut=0");
  ASSERT_EQ(dsc_LibSetTimeout(session_, 100, 1), DSC_OK);
  EXPECT_EQ(dsc_RecvLog(session_, buffer.data(), 1000, &total), DSC_ETIMEOUT);
  EXPECT_EQ(total, 1000u) << "the announced total is written";
}

TEST_F(Download, ConfigurationUploadReportsWholePercentsAndComesBack) {
  start();
  const Bytes config = pattern(600, 9);
  ASSERT_EQ(dsc_UpgradeAPConfig(session_, config.data(), 600), DSC_OK);
  EXPECT_EQ(g_recorder.percents(20), (std::vector<int32_t>{0, 42, 85, 100}));
  EXPECT_EQ(g_recorder.percents(40).back(), 100);
  EXPECT_EQ(frames(), (std::vector<Bytes>{{0x0B, 0x01, 0x00, 0x04, 0x00, 0x00, 0x02, 0x58}}));
  EXPECT_EQ(sent_frames(), (std::vector<Bytes>{{0x0B, 0x01, 0x00, 0x00}})) << "the start frame goes unanswered";
  Bytes back(4096);
  ASSERT_EQ(dsc_RecvAPConfig(session_, back.data(), 4096), DSC_OK);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 600), config);

  // The second form writes over the start and keeps the rest.
  const Bytes head(10, 0xAA);
  ASSERT_EQ(dsc_UpgradeAPConfig_NoErase(session_, head.data(), 10), DSC_OK);
  EXPECT_EQ(frames().back(), (Bytes{0x1E, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x0A}));
  ASSERT_EQ(dsc_RecvAPConfig(session_, back.data(), 600), DSC_OK);
  Bytes expected = config;
  std::fill(expected.begin(), expected.begin() + 10, 0xAA);
  EXPECT_EQ(Bytes(back.begin(), back.begin() + 600), expected);
}

TEST_F(Download, ConfigurationVerdicts) {
  const Bytes config = pattern(100);
  const struct {
    const char* keys;
    int32_t (*call)(int32_t, const void*, int32_t);
    int32_t result;
  } cases[] = {
      {",upload_status=0", dsc_UpgradeAPConfig, DSC_OK},
      {",upload_status=0", dsc_UpgradeAPConfig_NoErase, DSC_EFAIL},  // status 0 is no success for code 30
      {",upload_status=254", dsc_UpgradeAPConfig, DSC_ESTATUS254},
      {",upload_noreply=1", dsc_UpgradeAPConfig, DSC_ETIMEOUT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    start(c.keys);
    ASSERT_EQ(dsc_LibSetUpgTimeout(session_, 200), DSC_OK);
    EXPECT_EQ(c.call(session_, config.data(), 100), c.result);
  }
}

TEST_F(Download, ArgumentsSessionThenChannel) {
  start("", false);
  uint8_t buf[16];
  uint32_t total = 0;
  APCONFIGBANKINFO* info = new APCONFIGBANKINFO;
  const struct {
    const char* what;
    std::function<int32_t(int32_t)> call;
    int32_t result;
  } cases[] = {
      {"config null", [&](int32_t s) { return dsc_UpgradeAPConfig(s, nullptr, 4); }, DSC_EINVAL},
      {"config 0", [&](int32_t s) { return dsc_UpgradeAPConfig(s, buf, 0); }, DSC_EINVAL},
      {"config negative", [&](int32_t s) { return dsc_UpgradeAPConfig_NoErase(s, buf, -1); }, DSC_EINVAL},
      {"config", [&](int32_t s) { return dsc_UpgradeAPConfig(s, buf, 4); }, DSC_ENOCHANNEL},
      {"recv null", [&](int32_t s) { return dsc_RecvAPConfig(s, nullptr, 4); }, DSC_EINVAL},
      {"recv 0", [&](int32_t s) { return dsc_RecvAPConfig(s, buf, 0); }, DSC_EINVAL},
      {"recv", [&](int32_t s) { return dsc_RecvAPConfig(s, buf, 4); }, DSC_ENOCHANNEL},
      {"log total null", [&](int32_t s) { return dsc_RecvLog(s, buf, 4, nullptr); }, DSC_EINVAL},
      {"log", [&](int32_t s) { return dsc_RecvLog(s, buf, 4, &total); }, DSC_ENOCHANNEL},
      {"bank read null", [&](int32_t s) { return dsc_RecvAPConfigBank(s, 0, 0, nullptr, 4); }, DSC_BANK_EINVAL},
      {"bank read beyond, no channel", [&](int32_t s) { return dsc_RecvAPConfigBank(s, 0, 32000, buf, 1000); },
       DSC_BANK_ESOCKET},
      {"record null", [&](int32_t s) { return dsc_RecvAPConfig_Bank(s, 0, 0, 4, nullptr); }, DSC_BANK_EINVAL},
      {"record", [&](int32_t s) { return dsc_RecvAPConfig_Bank(s, 0, 0, 4, info); }, DSC_BANK_ESOCKET},
      {"write null", [&](int32_t s) { return dsc_UpgradeAPConfigBank(s, 0, nullptr, 4); }, DSC_BANK_EINVAL},
      {"write", [&](int32_t s) { return dsc_UpgradeAPConfigBank(s, 0, buf, 40000); }, DSC_BANK_ESOCKET},
      {"write2 null", [&](int32_t s) { return dsc_UpgradeAPConfig_Bank(s, 4, 0, nullptr); }, DSC_BANK_EINVAL},
      {"write2", [&](int32_t s) { return dsc_UpgradeAPConfig_Bank(s, 0, 0, buf); }, DSC_BANK_ESOCKET},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.call(session_), c.result) << c.what;
    EXPECT_EQ(c.call(256), DSC_EINVAL) << c.what;
    EXPECT_EQ(c.call(session_ + 1), DSC_EINVAL) << c.what;
  }
  delete info;
  EXPECT_TRUE(devsim_->Log().empty());
}

class Bank : public DeviceTest {};

TEST_F(Bank, LimitsRefuseBeforeSending) {
  start();
  Bytes data(40000, 1);
  EXPECT_EQ(dsc_RecvAPConfigBank(session_, 0, 32000, data.data(), 1000), DSC_BANK_ELIMIT);
  EXPECT_EQ(dsc_RecvAPConfigBank(session_, 0, 0xFFFFFFFFu, data.data(), 2), DSC_BANK_ELIMIT) << "no wrap";
  EXPECT_EQ(dsc_UpgradeAPConfigBank(session_, 0, data.data(), 32769), DSC_BANK_ELIMIT);
  EXPECT_EQ(dsc_UpgradeAPConfig_Bank(session_, 32769, 0, data.data()), DSC_BANK_EREPLY);
  EXPECT_EQ(dsc_UpgradeAPConfig_Bank(session_, 0, 0, data.data()), DSC_BANK_EREPLY);
  EXPECT_TRUE(frames().empty());
  EXPECT_EQ(dsc_RecvAPConfigBank(session_, 0, 31000, data.data(), 1768), DSC_BANK_OK) << "up to the limit";
}

TEST_F(Bank, BothFormsLayTheirFieldsOut) {
  start();
  const Bytes data = pattern(100, 5);
  ASSERT_EQ(dsc_UpgradeAPConfigBank(session_, 0x102, data.data(), 100), DSC_BANK_OK);
  ASSERT_EQ(dsc_UpgradeAPConfig_Bank(session_, 100, 3, data.data()), DSC_BANK_OK);
  Bytes buf(100);
  ASSERT_EQ(dsc_RecvAPConfigBank(session_, 0x102, 7, buf.data(), 93), DSC_BANK_OK);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 93), Bytes(data.begin() + 7, data.end()));
  APCONFIGBANKINFO* info = new APCONFIGBANKINFO;
  std::memset(info, 0x5A, sizeof *info);
  ASSERT_EQ(dsc_RecvAPConfig_Bank(session_, 3, 0, 100, info), DSC_BANK_OK);
  EXPECT_EQ(info->size, 100u);
  EXPECT_EQ(Bytes(info->data, info->data + 100), data);
  EXPECT_EQ(info->data[100], 0) << "the record is cleared first";
  delete info;
  const auto f = frames();
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0], (Bytes{0x14, 0x01, 0x00, 0x08, 0x00, 0x00, 0x00, 0x64, 0x02, 0x00, 0x00, 0x00}));
  EXPECT_EQ(f[1], (Bytes{0x14, 0x01, 0x00, 0x08, 0x00, 0x00, 0x00, 0x64, 0x03, 0x00, 0x00, 0x00}));
  EXPECT_EQ(f[2], (Bytes{0x15, 0x01, 0x00, 0x0C, 0x02, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x5D}));
  EXPECT_EQ(f[3], (Bytes{0x15, 0x01, 0x00, 0x0C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00,
                         0x00, 0x00}));
  EXPECT_EQ(upload_bytes(), 200u);
}

TEST_F(Bank, RepliesAreJudgedByTheirOwnStatus) {
  Bytes buf(64, 0xAB);
  start(",cmd_status=21:1");
  EXPECT_EQ(dsc_RecvAPConfigBank(session_, 0, 0, buf.data(), 64), DSC_BANK_EREPLY) << "status 1 fails a read";
  start(",cmd_status=20:0");
  EXPECT_EQ(dsc_UpgradeAPConfigBank(session_, 0, buf.data(), 64), DSC_BANK_EREPLY) << "status 0 fails a write";
  start();
  EXPECT_EQ(dsc_RecvAPConfigBank(session_, 0, 0, buf.data(), 0), DSC_BANK_OK) << "size 0: nothing to read";
  EXPECT_EQ(buf[0], 0xAB);
  EXPECT_EQ(dsc_UpgradeAPConfigBank(session_, 1, buf.data(), 0), DSC_BANK_OK) << "a length of 0 is sent";
  EXPECT_EQ(dsc_RecvAPConfigBank(session_, 99, 0, buf.data(), 4), DSC_BANK_EREPLY) << "a bank the device lacks";
  // Decoders on short, long and malformed replies.
  uint32_t size = 0;
  const uint8_t ok[12] = {21, 0, 0, 8, 0, 0, 1, 0};
  EXPECT_EQ(tarnix::bank::judge_read_reply(ok, 12, &size), tarnix::kOk);
  EXPECT_EQ(size, 256u);
  EXPECT_EQ(tarnix::bank::judge_read_reply(ok, 8, &size), tarnix::kMalformed) << "length says 8";
  EXPECT_EQ(tarnix::bank::judge_read_reply(ok, 4, &size), tarnix::kMalformed);
  EXPECT_EQ(tarnix::bank::judge_read_reply(nullptr, 0, &size), tarnix::kMalformed);
  const uint8_t w[4] = {20, 1, 0, 0};
  EXPECT_EQ(tarnix::bank::judge_write_reply(w, 4), tarnix::kOk);
  EXPECT_EQ(tarnix::bank::judge_write_reply(w, 3), tarnix::kMalformed);
}

TEST_F(Bank, MoreThanAskedIsDroppedAndTheChannelStaysInStep) {
  start(",bank_extra=50");
  const Bytes data = pattern(200, 2);
  ASSERT_EQ(dsc_UpgradeAPConfigBank(session_, 1, data.data(), 200), DSC_BANK_OK);
  Bytes buf(150, 0xAB);
  ASSERT_EQ(dsc_RecvAPConfigBank(session_, 1, 0, buf.data(), 100), DSC_BANK_OK);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 100), Bytes(data.begin(), data.begin() + 100));
  EXPECT_EQ(buf[100], 0xAB) << "never more than the length asked";
  APCONFIGBANKINFO* info = new APCONFIGBANKINFO;
  ASSERT_EQ(dsc_RecvAPConfig_Bank(session_, 1, 0, 32768, info), DSC_BANK_OK);
  EXPECT_EQ(info->size, 32768u + 50) << "the size announced";
  EXPECT_EQ(Bytes(info->data, info->data + 200), data);
  delete info;
  ASSERT_EQ(dsc_RecvAPConfigBank(session_, 1, 100, buf.data(), 100), DSC_BANK_OK);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 100), Bytes(data.begin() + 100, data.end()));
}

TEST_F(Bank, ReadWhoseDataStopTimesOutInBothForms) {
  start(",data_cut=40");
  ASSERT_EQ(dsc_LibSetTimeout(session_, 100, 1), DSC_OK);
  const Bytes data = pattern(100, 4);
  ASSERT_EQ(dsc_UpgradeAPConfigBank(session_, 2, data.data(), 100), DSC_BANK_OK);
  Bytes buf(100, 0xAB);
  EXPECT_EQ(dsc_RecvAPConfigBank(session_, 2, 0, buf.data(), 100), DSC_BANK_ETIMEOUT);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 40), Bytes(data.begin(), data.begin() + 40)) << "what came stays";
  EXPECT_EQ(buf[40], 0xAB);
  start(",data_cut=40");
  ASSERT_EQ(dsc_LibSetTimeout(session_, 100, 1), DSC_OK);
  APCONFIGBANKINFO* info = new APCONFIGBANKINFO;
  EXPECT_EQ(dsc_RecvAPConfig_Bank(session_, 2, 0, 100, info), DSC_BANK_ETIMEOUT);
  delete info;
}

TEST_F(Bank, UnansweredWriteConsultsTheProgressProcedureAfterEachWait) {
  start(",upload_noreply=1");
  ASSERT_EQ(dsc_LibSetTimeout(session_, 0, 1), DSC_OK);  // each wait: 1 s + 0
  const Bytes data = pattern(10);
  EXPECT_EQ(dsc_UpgradeAPConfigBank(session_, 0, data.data(), 10), DSC_BANK_ETIMEOUT);
  ASSERT_EQ(g_recorder.calls.size(), 2u);
  for (const Call& c : g_recorder.calls) {
    EXPECT_EQ(c.code, 0x80000014u);
    EXPECT_EQ(c.stage, 0);
    EXPECT_EQ(c.percent, 0);
  }
  g_recorder.calls.clear();
  g_recorder.cancel_stage = 0;
  EXPECT_EQ(dsc_UpgradeAPConfig_Bank(session_, 10, 0, data.data()), DSC_BANK_ECANCELLED);
  EXPECT_EQ(g_recorder.calls.size(), 1u);
}

}  // namespace
