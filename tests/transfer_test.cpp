// Image uploads: the upload itself on a socket pair (exact chunks, waits,
// verdicts), the firmware file's decoders, and the six exports against the
// emulator on loopback.
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <thread>

#include "platform/platform.h"
#include "result.h"
#include "transfer.h"
#include "transfer_fixture.h"
#include "wire.h"

namespace {

using namespace tarnix;
using namespace transfer_test;

static_assert(sizeof(APCONFIGBANKINFO) == 32772);
static_assert(offsetof(APCONFIGBANKINFO, data) == 4);

// ---- Decoders and arithmetic ---------------------------------------------------

TEST(TransferPercent, TruncatesRoundsToTensAndCaps) {
  const struct {
    uint64_t part;
    int64_t whole;
    bool tens;
    int32_t expected;
  } cases[] = {
      {0, 1000, true, 0},      {256, 1000, true, 20},  {512, 1000, true, 50},  {768, 1000, true, 70},
      {1000, 1000, true, 100}, {256, 600, false, 42},  {512, 600, false, 85},  {2500, 1000, false, 100},
      {62000, 60000, true, 100}, {5, 0, true, 100},    {5, -3, false, 100},    {0xFFFFFFFFu, 0xFFFFFFFFu, true, 100},
  };
  for (const auto& c : cases)
    EXPECT_EQ(transfer::percent(c.part, c.whole, c.tens), c.expected) << c.part << "/" << c.whole;
}

TEST(TransferFinalReply, ExactlyFourBytesThenTheStatus) {
  const struct {
    uint8_t code;
    Bytes reply;
    int expected;
  } cases[] = {
      {8, {8, 1, 0, 0}, kOk},        {5, {5, 0, 0, 0}, kOk},           {11, {11, 0, 0, 0}, kOk},
      {30, {30, 0, 0, 0}, kMalformed}, {8, {8, 0xFE, 0, 0}, kStatus254}, {8, {8, 251, 0, 0}, kStatus251},
      {8, {8, 252, 0, 0}, kStatus252}, {8, {8, 255, 0, 0}, kStatus252}, {8, {8, 253, 0, 0}, kTimeout},
      {8, {8, 2, 0, 0}, kMalformed},   {8, {8, 1, 0, 1}, kMalformed},   {8, {9, 1, 0, 0}, kMalformed},
      {8, {8, 1, 0}, kMalformed},      {8, {}, kMalformed},
  };
  for (const auto& c : cases)
    EXPECT_EQ(transfer::judge_final(c.code, c.reply.data(), c.reply.size()), c.expected) << int(c.code);
  EXPECT_EQ(export_result(kStatus254), DSC_ESTATUS254);
  EXPECT_EQ(export_result(kFileError), DSC_EFILE);
}

Bytes firmware(uint16_t t1, uint32_t o1, uint32_t l1, uint16_t t2, uint32_t o2, uint32_t l2) {
  Bytes b(transfer::kFirmwareHeaderSize, 0);
  std::memcpy(b.data(), "*FRM", 4);
  const uint16_t types[2] = {t1, t2};
  const uint32_t offsets[2] = {o1, o2}, lengths[2] = {l1, l2};
  for (size_t i = 0; i < 2; ++i) {
    uint8_t* d = b.data() + 64 + 16 * i;
    d[0] = static_cast<uint8_t>(types[i]);
    d[1] = static_cast<uint8_t>(types[i] >> 8);
    wire::put_le32(d + 4, offsets[i]);
    wire::put_le32(d + 8, lengths[i]);
    d[2] = d[12] = 0x77;  // not read
  }
  return b;
}

TEST(Firmware, DescriptorsTypesAndMagic) {
  Bytes f = firmware(1, 0x1234, 3000, 3, 0x10000, 1000);
  transfer::Section s[2];
  ASSERT_TRUE(transfer::has_magic(f.data(), f.size()));
  ASSERT_TRUE(transfer::decode_descriptors(f.data(), f.size(), s));
  EXPECT_EQ(s[0].type, 1);
  EXPECT_EQ(s[0].offset, 0x1234u);
  EXPECT_EQ(s[0].length, 3000u);
  EXPECT_EQ(s[1].type, 3);
  EXPECT_EQ(s[1].offset, 0x10000u);
  EXPECT_EQ(s[1].length, 1000u);
  EXPECT_FALSE(transfer::decode_descriptors(f.data(), f.size() - 1, s)) << "a descriptor cut short";
  EXPECT_FALSE(transfer::has_magic(f.data(), 3));
  const uint8_t other[4] = {'*', 'F', 'R', 'N'};
  EXPECT_FALSE(transfer::has_magic(other, 4));
  EXPECT_FALSE(transfer::has_magic(nullptr, 0));
  const struct {
    uint16_t type;
    uint8_t code;
  } types[] = {{1, 5}, {2, 6}, {3, 8}, {0, 0}, {4, 0}, {0x0101, 0}};
  for (const auto& t : types) EXPECT_EQ(transfer::section_code(t.type), t.code) << t.type;
}

TEST(Firmware, TimeOutIsSplitInProportion) {
  const struct {
    int32_t total;
    uint32_t l1, l2;
    int32_t t1, t2;
  } cases[] = {
      {85000, 3000, 1000, 63750, 21250}, {85000, 0, 0, 42500, 42500}, {85000, 1000, 0, 85000, 0},
      {10, 1, 2, 3, 6},                  {0, 5, 5, 0, 0},             {-100, 1, 1, -50, -50},
      {60000, 0xFFFFFFFFu, 0xFFFFFFFFu, 30000, 30000},
  };
  for (const auto& c : cases) {
    int32_t t1 = 0, t2 = 0;
    transfer::split_timeout(c.total, c.l1, c.l2, &t1, &t2);
    EXPECT_EQ(t1, c.t1) << c.total << " " << c.l1 << ":" << c.l2;
    EXPECT_EQ(t2, c.t2) << c.total << " " << c.l1 << ":" << c.l2;
  }
}

TEST(Firmware, HeaderTextAgreesWithTheTextFromItsFifthCharacter) {
  const struct {
    const char* header;
    const char* text;
    bool ok;
  } cases[] = {
      {"XYZ", "abcdXYZ", true}, {"XY", "abcdXYZ", true},  {"XYZW", "abcdXYZ", false}, {"", "abcdXYZ", true},
      {"XZ", "abcdXYZ", false}, {"A", "abc", false},      {"", "abc", true},          {"A", "abcd", false},
      {"A", "abcdA", true},
  };
  for (const auto& c : cases) {
    Bytes h(transfer::kWebHeaderSize, 0);
    std::memcpy(h.data(), c.header, std::strlen(c.header));
    EXPECT_EQ(transfer::header_matches(h.data(), h.size(), c.text), c.ok) << c.header << " / " << c.text;
  }
  // A header of 44 characters has no NUL and is read up to its end.
  Bytes full(transfer::kWebHeaderSize, 'Q');
  const std::string text = "abcd" + std::string(44, 'Q');
  EXPECT_TRUE(transfer::header_matches(full.data(), full.size(), text.c_str()));
  EXPECT_FALSE(transfer::header_matches(full.data(), full.size(), text.substr(0, 47).c_str()));
}

// ---- The upload on a socket pair -------------------------------------------------
// A sequenced-packet pair keeps every send as one message, so the peer sees
// the library's chunks exactly as they were sent.

class Pair : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds_), 0);
    g_recorder = Recorder{};
    timing_.timeout = 200;
    timing_.retries = 2;
    timing_.proc = record_progress;
    timing_.upgrade_timeout = 1000;
  }
  void TearDown() override {
    if (peer_.joinable()) peer_.join();
    close(fds_[0]);
    close(fds_[1]);
  }
  // One message from the library, waiting at most wait_ms; empty when none came.
  Bytes next(int wait_ms = 2000) {
    pollfd p{fds_[1], POLLIN, 0};
    if (poll(&p, 1, wait_ms) != 1) return {};
    Bytes b(70000);
    const ssize_t n = recv(fds_[1], b.data(), b.size(), 0);
    b.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return b;
  }
  void answer(const Bytes& b) { ASSERT_EQ(send(fds_[1], b.data(), b.size(), 0), static_cast<ssize_t>(b.size())); }
  // The peer: answers the start frame, collects `size` bytes of data, then sends `verdict` after delay_ms.
  void serve(uint8_t code, size_t size, Bytes verdict, int delay_ms = 0) {
    peer_ = std::thread([=, this] {
      start_ = next();
      answer({code, 1, 0, 0});
      size_t got = 0;
      while (got < size) {
        Bytes m = next();
        if (m.empty()) return;
        chunks_.push_back(m.size());
        got += m.size();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
      if (!verdict.empty()) answer(verdict);
    });
  }

  int fds_[2] = {-1, -1};
  Timing timing_;
  std::thread peer_;
  Bytes start_;
  std::vector<size_t> chunks_;
};

TEST_F(Pair, ThousandBytesGoAsThreeFullChunksAndOneOf232) {
  const Bytes image = pattern(1000);
  serve(8, image.size(), {8, 1, 0, 0});
  transfer::MemorySource source(image.data(), image.size());
  EXPECT_EQ(transfer::upload(8, fds_[0], source, 1000, timing_, transfer::kImageStyle), kOk);
  peer_.join();
  EXPECT_EQ(start_, (Bytes{0x08, 0x01, 0x00, 0x04, 0x00, 0x00, 0x03, 0xE8}));
  EXPECT_EQ(chunks_, (std::vector<size_t>{256, 256, 256, 232}));
  EXPECT_EQ(g_recorder.percents(20), (std::vector<int32_t>{0, 20, 50, 70, 100}));
  const auto store = g_recorder.percents(40);
  ASSERT_FALSE(store.empty());
  EXPECT_EQ(store.back(), 100);
  EXPECT_EQ(std::count(store.begin(), store.end(), 100), 1);
  for (const Call& c : g_recorder.calls) EXPECT_EQ(c.code, 0x80000008u);
}

TEST_F(Pair, FileSourceReadsChunkByChunkAndNeverSendsWhatItDidNotRead) {
  char path[] = "/tmp/tarnix-short-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  const Bytes bytes = pattern(300);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), 300);
  close(fd);
  platform::ReadFile file;
  ASSERT_TRUE(file.open(path));
  EXPECT_EQ(file.size(), 300u);
  serve(6, 256, {});
  transfer::FileSource source(file);
  // 1000 announced, 300 there: the second chunk cannot be read whole.
  EXPECT_EQ(transfer::upload(6, fds_[0], source, 1000, timing_, transfer::kImageStyle), kFileError);
  peer_.join();
  EXPECT_EQ(chunks_, (std::vector<size_t>{256}));
  std::remove(path);
  platform::ReadFile dir;
  EXPECT_FALSE(dir.open("/tmp")) << "a directory is no image";
  EXPECT_FALSE(dir.open("/tmp/tarnix-no-such-file"));
}

TEST_F(Pair, EmptyImageSendsNoChunkAndAwaitsTheVerdict) {
  serve(5, 0, {5, 0, 0, 0});
  transfer::MemorySource source(nullptr, 0);
  EXPECT_EQ(transfer::upload(5, fds_[0], source, 0, timing_, transfer::kImageStyle), kOk) << "status 0 for code 5";
  peer_.join();
  EXPECT_EQ(start_, (Bytes{0x05, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00}));
  EXPECT_TRUE(chunks_.empty());
  EXPECT_EQ(g_recorder.percents(20), (std::vector<int32_t>{100}));
}

TEST_F(Pair, VerdictIsReadTheMomentItArrives) {
  const Bytes image = pattern(10);
  serve(8, image.size(), {8, 1, 0, 0}, 30);
  transfer::MemorySource source(image.data(), image.size());
  const uint32_t t0 = platform::tick_ms();
  EXPECT_EQ(transfer::upload(8, fds_[0], source, 10, timing_, transfer::kImageStyle), kOk);
  // A blind half-second sleep between looks would put this at 500 ms at least.
  EXPECT_LT(platform::tick_diff(platform::tick_ms(), t0), 400u);
  EXPECT_EQ(g_recorder.percents(40), (std::vector<int32_t>{0, 100}));
}

TEST_F(Pair, MissingVerdictTimesOutAfterUpgradeTimeOutPlus2000) {
  const Bytes image = pattern(10);
  timing_.upgrade_timeout = 200;
  serve(8, image.size(), {});
  transfer::MemorySource source(image.data(), image.size());
  const uint32_t t0 = platform::tick_ms();
  EXPECT_EQ(transfer::upload(8, fds_[0], source, 10, timing_, transfer::kImageStyle), kTimeout);
  const uint32_t spent = platform::tick_diff(platform::tick_ms(), t0);
  EXPECT_GE(spent, 2200u);
  EXPECT_LT(spent, 2900u);
  const auto store = g_recorder.percents(40);
  // Looks at about 0, 500, 1000, 1500 and 2000 ms (a late wake-up may save the last); past 200 ms every
  // share reads 100.
  ASSERT_GE(store.size(), 4u);
  EXPECT_LE(store.size(), 5u);
  EXPECT_EQ(store.front(), 0);
  for (size_t i = 1; i < store.size(); ++i) EXPECT_EQ(store[i], 100);
}

TEST_F(Pair, ConfigurationStyleNeedsNoStartAnswerAndAllowsNoMargin) {
  const Bytes data = pattern(600);
  timing_.upgrade_timeout = 100;
  peer_ = std::thread([&] {
    start_ = next();
    for (size_t got = 0; got < 600;) {
      Bytes m = next();
      if (m.empty()) return;
      chunks_.push_back(m.size());
      got += m.size();
    }
  });
  transfer::MemorySource source(data.data(), data.size());
  const uint32_t t0 = platform::tick_ms();
  EXPECT_EQ(transfer::upload(11, fds_[0], source, 600, timing_, transfer::kConfigStyle), kTimeout);
  EXPECT_LT(platform::tick_diff(platform::tick_ms(), t0), 1000u) << "no 2000 ms margin";
  peer_.join();
  EXPECT_EQ(start_, (Bytes{0x0B, 0x01, 0x00, 0x04, 0x00, 0x00, 0x02, 0x58}));
  EXPECT_EQ(chunks_, (std::vector<size_t>{256, 256, 88}));
  EXPECT_EQ(g_recorder.percents(20), (std::vector<int32_t>{0, 42, 85, 100}));
  EXPECT_EQ(g_recorder.percents(40).front(), 0);
}

TEST_F(Pair, UpgradeTimeOutOfZeroReadsOneHundred) {
  const Bytes image = pattern(10);
  timing_.upgrade_timeout = 0;
  serve(8, image.size(), {8, 1, 0, 0});
  transfer::MemorySource source(image.data(), image.size());
  transfer::upload(8, fds_[0], source, 10, timing_, transfer::kImageStyle);
  for (int32_t p : g_recorder.percents(40)) EXPECT_EQ(p, 100);
}

TEST_F(Pair, EmptyWaitsCountOverTheWholeDataPhase) {
  // A tiny send buffer and a peer that stops reading: every wait after the buffer filled is empty.
  int small = 4096;
  ASSERT_EQ(setsockopt(fds_[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
  timing_.timeout = 20;
  timing_.retries = 2;
  peer_ = std::thread([&] {
    start_ = next();
    answer({8, 1, 0, 0});
  });
  const Bytes image = pattern(1 << 16);
  transfer::MemorySource source(image.data(), image.size());
  EXPECT_EQ(transfer::upload(8, fds_[0], source, image.size(), timing_, transfer::kImageStyle), kTimeout);
  peer_.join();
  size_t queued = 0;
  for (Bytes m; !(m = next(0)).empty() && m.size() == 256;) ++queued;
  ASSERT_GT(queued, 0u);
  ASSERT_LT(queued, image.size() / 256);
  // One report before every chunk, and one before each of the retry count + 1 empty waits.
  EXPECT_EQ(g_recorder.percents(20).size(), queued + 3);
}

TEST_F(Pair, ProgressProcedureCancelsAtOnce) {
  for (int32_t stage : {20, 40}) {
    SCOPED_TRACE(stage);
    g_recorder = Recorder{};
    g_recorder.cancel_stage = stage;
    chunks_.clear();
    const Bytes image = pattern(600);
    serve(8, stage == 20 ? 0 : image.size(), {});
    transfer::MemorySource source(image.data(), image.size());
    EXPECT_EQ(transfer::upload(8, fds_[0], source, 600, timing_, transfer::kImageStyle), kCancelled);
    peer_.join();
    EXPECT_EQ(chunks_.size(), stage == 20 ? 0u : 3u);
    EXPECT_EQ(g_recorder.calls.size(), stage == 20 ? 1u : 5u) << "nothing after the cancelling call";
  }
}

// ---- The exports against the emulator ---------------------------------------------

class Upload : public DeviceTest {};

// An image whose first bytes are the emulator's version header.
Bytes versioned(size_t n, uint32_t version, const char* name = "") {
  Bytes b = pattern(n, 3);
  std::memcpy(b.data(), "TDVI", 4);
  wire::put_le32(b.data() + 4, version);
  std::memset(b.data() + 8, 0, 40);
  std::memcpy(b.data() + 8, name, std::strlen(name));
  return b;
}

TEST_F(Upload, ApplicationImageArrivesWholeAndTheNewVersionShows) {
  start();
  const Bytes image = versioned(1000, 0x01090400, "new-ap");
  ASSERT_EQ(dsc_UpgradeAP(session_, write_file("a.ap", image).c_str()), DSC_OK);
  const auto f = frames();
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0], (Bytes{0x08, 0x01, 0x00, 0x04, 0x00, 0x00, 0x03, 0xE8}));
  EXPECT_EQ(upload_bytes(), 1000u);
  const auto stored = markers("stored:");
  ASSERT_EQ(stored.size(), 1u);
  char expected[32];
  std::snprintf(expected, sizeof expected, "stored:8:%08x", fnv1a(image));
  EXPECT_EQ(stored[0].marker, expected);
  EXPECT_EQ(g_recorder.percents(20), (std::vector<int32_t>{0, 20, 50, 70, 100}));
  EXPECT_EQ(g_recorder.percents(40).back(), 100);
  APINFO ap{};
  ASSERT_EQ(dsc_GetAPInfo(session_, &ap), DSC_OK);
  EXPECT_EQ(ap.version, 0x01090400u);
  EXPECT_STREQ(ap.name, "new-ap");
}

TEST_F(Upload, EachExportUsesItsCode) {
  start();
  const std::string path = write_file("k.rom", versioned(300, 0x03000000));
  const struct {
    int32_t (*call)(int32_t, const char*);
    uint8_t code;
  } cases[] = {{dsc_Upgrade, 5}, {dsc_UpgradeKernel, 5}, {dsc_UpgradeAP, 8}, {dsc_UpgradeFile, 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.code));
    const size_t before = frames().size();
    ASSERT_EQ(c.call(session_, path.c_str()), DSC_OK);
    ASSERT_EQ(frames().size(), before + 1);
    EXPECT_EQ(frames().back(), (Bytes{c.code, 0x01, 0x00, 0x04, 0x00, 0x00, 0x01, 0x2C}));
  }
  KERNELINFO k{};
  ASSERT_EQ(dsc_GetKernelInfo(session_, &k), DSC_OK);
  EXPECT_EQ(k.version, 0x03000000u);
}

TEST_F(Upload, VerdictsMapToResults) {
  const struct {
    const char* keys;
    int32_t (*call)(int32_t, const char*);
    int32_t result;
  } cases[] = {
      {"", dsc_UpgradeFile, DSC_OK},
      {",upload_status=0", dsc_Upgrade, DSC_OK},
      {",upload_status=254", dsc_UpgradeAP, DSC_ESTATUS254},
      {",upload_status=251", dsc_UpgradeAP, DSC_EINVAL},
      {",upload_status=252", dsc_UpgradeAP, DSC_ESTATUS252},
      {",upload_status=255", dsc_UpgradeAP, DSC_ESTATUS252},
      {",upload_status=253", dsc_UpgradeAP, DSC_ETIMEOUT},
      {",upload_status=2", dsc_UpgradeAP, DSC_EFAIL},
      {",upload_badlen=1", dsc_UpgradeAP, DSC_EFAIL},
      {",cmd_status=8:254", dsc_UpgradeAP, DSC_ESTATUS254},
      {",cmd_wrongcode=5", dsc_UpgradeKernel, DSC_EFAIL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.keys);
    start(c.keys);
    const std::string path = write_file("i.bin", pattern(700));
    EXPECT_EQ(c.call(session_, path.c_str()), c.result);
    EXPECT_NE(tarnix::checked_session(session_)->socket, -1) << "the channel stays open";
  }
}

TEST_F(Upload, MissingVerdictGivesTimeOut) {
  start(",upload_noreply=1");
  ASSERT_EQ(dsc_LibSetUpgTimeout(session_, 100), DSC_OK);
  EXPECT_EQ(dsc_UpgradeAP(session_, write_file("i.bin", pattern(300)).c_str()), DSC_ETIMEOUT);
  EXPECT_EQ(upload_bytes(), 300u);
}

TEST_F(Upload, ChecksComeBeforeTheFile) {
  start("", false);
  const std::string path = write_file("i.bin", pattern(10));
  EXPECT_EQ(dsc_Upgrade(session_, "/tmp/tarnix-no-such-image"), DSC_ENOCHANNEL) << "the file is not opened";
  EXPECT_EQ(dsc_UpgradeAPKernel(session_, path.c_str()), DSC_ENOCHANNEL);
  EXPECT_EQ(dsc_UpgradeFile(session_, nullptr), DSC_EINVAL);
  EXPECT_EQ(dsc_UpgradeAP(256, path.c_str()), DSC_EINVAL);
  EXPECT_EQ(dsc_UpgradeKernel(session_ + 1, path.c_str()), DSC_EINVAL);
  EXPECT_EQ(dsc_Upgrade_WebKernel(-1, path.c_str(), "abcd"), DSC_EINVAL);
  ASSERT_EQ(dsc_Login(session_, "pw"), DSC_OK);
  EXPECT_EQ(dsc_UpgradeFile(session_, nullptr), DSC_EINVAL);
  EXPECT_EQ(dsc_UpgradeAP(session_, "/tmp/tarnix-no-such-image"), DSC_EFILE);
  EXPECT_EQ(dsc_UpgradeAP(session_, dir_.c_str()), DSC_EFILE) << "a directory";
  EXPECT_EQ(dsc_UpgradeAPKernel(session_, dir_.c_str()), DSC_EFILE);
  EXPECT_TRUE(frames().empty());
}

TEST_F(Upload, EmptyImageIsAnnouncedWithSizeZero) {
  start();
  ASSERT_EQ(dsc_UpgradeAP(session_, write_file("e.ap", {}).c_str()), DSC_OK);
  EXPECT_EQ(frames(), (std::vector<Bytes>{{0x08, 0x01, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00}}));
  EXPECT_EQ(upload_bytes(), 0u);
  EXPECT_EQ(g_recorder.percents(20), (std::vector<int32_t>{100}));
}

TEST_F(Upload, CancelledUploadLeavesTheChannelOpen) {
  start();
  g_recorder.cancel_stage = 20;
  EXPECT_EQ(dsc_UpgradeAP(session_, write_file("i.bin", pattern(600)).c_str()), DSC_ECANCELLED);
  EXPECT_EQ(upload_bytes(), 0u);
  EXPECT_EQ(dsc_Logout(session_), DSC_OK);
}

TEST_F(Upload, StalledDeviceMakesTheWritableWaitsEmpty) {
  // Enough to fill the buffers between here and a device that reads nothing for a while.
  const Bytes image = pattern(8 << 20);
  start(",upload_stall_ms=400");
  ASSERT_EQ(dsc_LibSetTimeout(session_, 100, 8), DSC_OK);
  const std::string path = write_file("big.bin", image);
  ASSERT_EQ(dsc_UpgradeFile(session_, path.c_str()), DSC_OK);
  EXPECT_GT(g_recorder.percents(20).size(), image.size() / 256 + 1) << "reports before the empty waits too";
  EXPECT_EQ(upload_bytes(), image.size());

  start(",upload_stall_ms=3000");
  ASSERT_EQ(dsc_LibSetTimeout(session_, 50, 1), DSC_OK);
  EXPECT_EQ(dsc_UpgradeFile(session_, path.c_str()), DSC_ETIMEOUT);
}

// ---- Firmware files ---------------------------------------------------------

Bytes with_sections(Bytes header, const std::vector<std::pair<uint32_t, Bytes>>& parts) {
  for (const auto& [offset, bytes] : parts) {
    if (header.size() < offset + bytes.size()) header.resize(offset + bytes.size(), 0);
    std::copy(bytes.begin(), bytes.end(), header.begin() + offset);
  }
  return header;
}

TEST_F(Upload, FirmwareSectionsShareTheTimeOutThreeToOne) {
  start();
  ASSERT_EQ(dsc_LibSetUpgTimeout(session_, 8000), DSC_OK);
  const Bytes kernel = versioned(3072, 0x02050000);
  const Bytes ap = versioned(1024, 0x01070000, "fw-ap");
  // Section 2 lies before section 1 in the file: the offsets decide.
  const Bytes file = with_sections(firmware(1, 2000, 3072, 3, 128, 1024), {{2000, kernel}, {128, ap}});
  ASSERT_EQ(dsc_UpgradeAPKernel(session_, write_file("f.frm", file).c_str()), DSC_OK);
  EXPECT_EQ(frames(), (std::vector<Bytes>{{0x05, 0x01, 0x00, 0x04, 0x00, 0x00, 0x0C, 0x00},
                                          {0x08, 0x01, 0x00, 0x04, 0x00, 0x00, 0x04, 0x00}}));
  const auto stored = markers("stored:");
  ASSERT_EQ(stored.size(), 2u);
  char expected[2][32];
  std::snprintf(expected[0], 32, "stored:5:%08x", fnv1a(kernel));
  std::snprintf(expected[1], 32, "stored:8:%08x", fnv1a(ap));
  EXPECT_EQ(stored[0].marker, expected[0]);
  EXPECT_EQ(stored[1].marker, expected[1]);
  size_t kernel_calls = 0, ap_calls = 0;
  for (const Call& c : g_recorder.calls) {
    if (c.code == 0x80000005u) {
      ++kernel_calls;
      EXPECT_EQ(c.upgrade_timeout, 6000);
    } else if (c.code == 0x80000008u) {
      ++ap_calls;
      EXPECT_EQ(c.upgrade_timeout, 2000);
    }
  }
  EXPECT_GT(kernel_calls, 0u);
  EXPECT_GT(ap_calls, 0u);
  EXPECT_EQ(tarnix::checked_session(session_)->timing.upgrade_timeout, 8000) << "restored";
  KERNELINFO k{};
  APINFO a{};
  ASSERT_EQ(dsc_GetKernelInfo(session_, &k), DSC_OK);
  ASSERT_EQ(dsc_GetAPInfo(session_, &a), DSC_OK);
  EXPECT_EQ(k.version, 0x02050000u);
  EXPECT_EQ(a.version, 0x01070000u);
}

TEST_F(Upload, RefusedFirmwareFilesSendNothing) {
  Bytes bad_magic = firmware(1, 96, 4, 3, 100, 4);
  bad_magic[0] = 'X';
  const struct {
    const char* what;
    Bytes file;
  } cases[] = {
      {"no magic", with_sections(bad_magic, {{96, pattern(8)}})},
      {"three bytes", {'*', 'F', 'R'}},
      {"no descriptors", Bytes{'*', 'F', 'R', 'M', 0, 0, 0, 0}},
      {"section type 4", with_sections(firmware(1, 96, 4, 4, 100, 4), {{96, pattern(8)}})},
      {"section type 0", with_sections(firmware(0, 96, 4, 3, 100, 4), {{96, pattern(8)}})},
  };
  start();
  ASSERT_EQ(dsc_LibSetUpgTimeout(session_, 8000), DSC_OK);
  for (const auto& c : cases) {
    EXPECT_EQ(dsc_UpgradeAPKernel(session_, write_file("bad.frm", c.file).c_str()), DSC_ESTATUS252) << c.what;
    EXPECT_EQ(tarnix::checked_session(session_)->timing.upgrade_timeout, 8000) << c.what;
  }
  EXPECT_TRUE(frames().empty());
}

TEST_F(Upload, FirmwareFileEndingEarlySendsOnlyWhatWasRead) {
  start();
  ASSERT_EQ(dsc_LibSetUpgTimeout(session_, 8000), DSC_OK);
  // Section 1 claims 1000 bytes from 96, the file has 600 of them.
  const Bytes file = with_sections(firmware(1, 96, 1000, 3, 96, 10), {{96, pattern(600)}});
  EXPECT_EQ(dsc_UpgradeAPKernel(session_, write_file("short.frm", file).c_str()), DSC_EFILE);
  EXPECT_EQ(await_upload_bytes(512), 512u) << "two whole chunks; the third could not be read";
  EXPECT_EQ(await_upload_bytes(513), 512u);
  EXPECT_EQ(frames().size(), 1u) << "section 2 is not sent";
  EXPECT_EQ(tarnix::checked_session(session_)->timing.upgrade_timeout, 8000);
}

TEST_F(Upload, FailingFirstSectionStopsTheFirmwareUpload) {
  start(",cmd_status=5:254");
  ASSERT_EQ(dsc_LibSetUpgTimeout(session_, 8000), DSC_OK);
  const Bytes file = with_sections(firmware(1, 96, 100, 3, 196, 100), {{96, pattern(200)}});
  EXPECT_EQ(dsc_UpgradeAPKernel(session_, write_file("f.frm", file).c_str()), DSC_ESTATUS254);
  EXPECT_EQ(frames().size(), 1u);
  EXPECT_EQ(tarnix::checked_session(session_)->timing.upgrade_timeout, 8000);
}

TEST_F(Upload, WebKernelChecksSectionOnesHeaderText) {
  const struct {
    const char* header;
    const char* text;
    int32_t result;
  } cases[] = {
      {"XYZ", "abcdXYZ", DSC_OK},  {"XY", "abcdXYZ", DSC_OK}, {"XYZW", "abcdXYZ", DSC_ESTATUS252},
      {"XYZW", nullptr, DSC_OK},   {"XYZW", "", DSC_OK},      {"", "abcdXYZ", DSC_OK},
  };
  start();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.header) + " / " + (c.text ? c.text : "null"));
    Bytes section = pattern(200);
    std::fill(section.begin(), section.begin() + 44, 0);
    std::memcpy(section.data(), c.header, std::strlen(c.header));
    const Bytes file = with_sections(firmware(1, 96, 200, 2, 96, 0), {{96, section}});
    const size_t before = frames().size();
    EXPECT_EQ(dsc_Upgrade_WebKernel(session_, write_file("w.frm", file).c_str(), c.text), c.result);
    EXPECT_EQ(frames().size(), before + (c.result == DSC_OK ? 2 : 0));
  }
  EXPECT_GE(upload_bytes(), 200u);
}

}  // namespace
