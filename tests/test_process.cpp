// Processing of device datagrams: heartbeats, time requests, events, the drops,
// address tracking, echo, the maintenance hand-off, the sender and the decoding
// of service answers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "armlink/arm_queue.h"
#include "armlink/service_answer.h"
#include "device_link_fixture.h"

namespace {

using namespace dltest;
using devlink::GetU32;

constexpr ConsoleNumber kNum{1, 0, 5};
constexpr uint16_t kIdx = 3;

class ProcessTest : public LinkFixture {
 protected:
  ProcessTest() { dev = AddDevice(kIdx, kNum); }
  Device dev;
};

// ---- heartbeat, time request, events

TEST_F(ProcessTest, HeartbeatIsAnsweredAtTheDatagramsSource) {
  for (bool sostAvar : {false, true}) {
    sent.clear();
    settings.GlSostAvar = sostAvar;
    const uint32_t transm = GetU32(Rec(kIdx).C_iTransm), resiv = GetU32(Rec(kIdx).C_iResiv);
    const uint8_t seq = sostAvar ? 0x12 : 0x11;
    Feed(dev.Wrap(dev.Heartbeat(seq)), "10.0.0.9", 4002, 1);
    ASSERT_EQ(sent.size(), 1u) << sostAvar;
    EXPECT_EQ(sent[0].iface, 1);
    EXPECT_EQ(sent[0].addr, "10.0.0.9");
    EXPECT_EQ(sent[0].port, 4002);
    const auto plain = dev.Open(sent[0].bytes);
    ASSERT_TRUE(plain) << sostAvar;
    const Bytes expected = sostAvar ? WithCheck({0xEA, 8, 0x55, 8, 1, 0, 5, seq, 1, 0})
                                    : WithCheck({0xEA, 7, 0x55, 8, 1, 0, 5, seq, 0});
    EXPECT_EQ(*plain, expected);
    EXPECT_EQ(Rec(kIdx).lastHbSeq, seq);
    EXPECT_EQ(GetU32(Rec(kIdx).C_iTransm), transm + 1);
    EXPECT_EQ(GetU32(Rec(kIdx).C_iResiv), resiv + 1);
  }
}

TEST_F(ProcessTest, SignsOfLifeAndTheLinkState) {
  struct Case { bool event; uint8_t seq; uint8_t stateBefore, stateAfter, countAfter; };
  const Case cases[] = {
      {false, 0x21, 2, 2, 5},  // repeated heartbeat: answered, not a sign of life
      {false, 0x22, 2, 3, 0},
      {false, 0x22, 1, 1, 0},
      {false, 0x22, 0, 0, 0},
      {true, 0x21, 2, 3, 0},   // an event counts whatever its sequence byte
      {true, 0x22, 1, 1, 0},
  };
  for (const Case& c : cases) {
    sent.clear();
    ClientRecord& r = Rec(kIdx);
    r.lastHbSeq = 0x21;
    r.linkFailCount = 5;
    r.linkState = c.stateBefore;
    r.substCount = 7;
    r.armRead = r.armWrite = r.armFull = 0;
    Feed(dev.Wrap(c.event ? dev.Event(c.seq, 0x20) : dev.Heartbeat(c.seq)));
    EXPECT_EQ(sent.size(), 1u) << c.event << " " << int(c.seq);
    EXPECT_EQ(r.linkState, c.stateAfter) << c.event << " " << int(c.seq);
    EXPECT_EQ(r.linkFailCount, c.countAfter) << c.event << " " << int(c.seq);
    EXPECT_EQ(r.substCount, 0);
    ASSERT_EQ(sent.size(), 1u);
    ASSERT_TRUE(dev.Open(sent[0].bytes));
  }
}

TEST_F(ProcessTest, TimeAnswerCarriesTheLocalTime) {
  Feed(dev.Wrap(dev.Service(0x80, 0x44, kNum)));
  ASSERT_EQ(sent.size(), 1u);
  const auto plain = dev.Open(sent[0].bytes);
  ASSERT_TRUE(plain);
  EXPECT_EQ(*plain, WithCheck({0xEA, 13, 0x55, 0x80, 1, 0, 5, 0x44, 24, 3, 5, 14, 7, 9, 0}));
}

TEST_F(ProcessTest, EventIsQueuedAcknowledgedAndAnswersItsRequest) {
  settings.GlPovtorOn = true;
  ClientRecord& r = Rec(kIdx);
  r.sendsLeft[2] = 3;
  r.pending[2][7] = 0x41;
  r.requestsPending = 1;
  r.linkFailCount = 9;
  const Bytes ev = dev.Event(0x41, 0x20, {7, 8});
  Feed(dev.Wrap(ev));

  uint8_t frame[128];
  ASSERT_FALSE(armlink::GetForArm(r, frame));
  EXPECT_EQ(0, std::memcmp(frame, ev.data(), ev.size()));
  EXPECT_TRUE(armlink::GetForArm(r, frame));
  EXPECT_EQ(r.sendsLeft[2], 0);
  EXPECT_EQ(r.requestsPending, 0);
  EXPECT_EQ(r.linkFailCount, 0);
  ASSERT_EQ(sent.size(), 1u);
  const auto ack = dev.Open(sent[0].bytes);
  ASSERT_TRUE(ack);
  EXPECT_EQ(*ack, WithCheck({0xEA, 7, 0x55, 9, 1, 0, 5, 0x41, 0}));
}

TEST_F(ProcessTest, EventWithAFullQueueIsNeitherQueuedNorAcknowledged) {
  ClientRecord& r = Rec(kIdx);
  r.armFull = 1;
  r.armRead = r.armWrite = 4;
  r.substCount = 3;
  const auto queueBefore = Bytes(&r.armQueue[0][0], &r.armQueue[0][0] + sizeof r.armQueue);
  Feed(dev.Wrap(dev.Event(0x51, 0x20)));
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(Bytes(&r.armQueue[0][0], &r.armQueue[0][0] + sizeof r.armQueue), queueBefore);
  EXPECT_EQ(r.armWrite, 4);
  EXPECT_EQ(r.substCount, 3);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Переполнение Буфера, нет связи с АРМ(ом)!"});
}

TEST_F(ProcessTest, BalanceEventWithBalanseOffIsAcknowledgedNotQueued) {
  ClientRecord& r = Rec(kIdx);
  r.serviceAnswerExpected = 1;
  for (bool off : {true, false}) {
    sent.clear();
    settings.GlBalanseOff = off;
    r.armRead = r.armWrite = r.armFull = 0;
    Feed(dev.Wrap(dev.Event(off ? 0x61 : 0x62, 0x44, {0, 0xFF, 0xFF, 1})));
    ASSERT_EQ(sent.size(), 1u) << off;
    const auto ack = dev.Open(sent[0].bytes);
    ASSERT_TRUE(ack);
    EXPECT_EQ((*ack)[3], 9);
    uint8_t frame[128];
    EXPECT_EQ(armlink::GetForArm(r, frame), off) << "queue empty";
    EXPECT_EQ(Messages(), std::vector<std::string>{"Пульт.N-1/0/5 Баланс SIM1:Выполняется!"});
  }
}

// ---- drops

struct DropCase {
  const char* name;
  // Builds the datagram; may change the device's chaining.
  Bytes (*build)(Device&);
  bool chainAdvances;  // decrypted before the drop: C_iResiv moves on
};

Bytes Recheck(Bytes w) {
  w.back() = devlink::Crc8Bytes(w.data(), w.size() - 1);
  return w;
}

const DropCase kDrops[] = {
    {"index one past the table", [](Device& d) { return d.Wrap(d.Heartbeat(1), 20); }, false},
    {"index of a free record", [](Device& d) { return d.Wrap(d.Heartbeat(1), 4); }, false},
    {"index far beyond", [](Device& d) { return d.Wrap(d.Heartbeat(1), 0xFFFF); }, false},
    {"bad wrapper check byte",
     [](Device& d) {
       Bytes w = d.Wrap(d.Heartbeat(1));
       w.back() ^= 0x01;
       return w;
     },
     false},
    {"chaining six ahead",
     [](Device& d) {
       d.send += 6;
       return d.Wrap(d.Heartbeat(1));
     },
     false},
    {"replayed chaining value",
     [](Device& d) {
       d.send -= 1;
       return d.Wrap(d.Heartbeat(1));
     },
     false},
    {"wrapper too short", [](Device&) { return WithCheck({0xEA, 3, 0, 3, 0}); }, false},
    {"inner length beyond the wrapper",
     [](Device& d) {
       Bytes w = d.Wrap(d.Heartbeat(1));
       w[5] = 12;  // inner claims 16 encrypted bytes, the wrapper carries 10
       return Recheck(w);
     },
     false},
    {"plain telegram in a wrapper too short to decrypt",
     [](Device& d) {
       // An echo in plain text where the encrypted inner telegram should be.
       Bytes w = {0xEA, 11, uint8_t(d.index >> 8), uint8_t(d.index)};
       const Bytes echo = WithCheck({0xEF, 6, 0x55, 0xBC, 1, 0, 5, 0});
       w.insert(w.end(), echo.begin(), echo.end());
       w.push_back(0);
       return WithCheck(w);
     },
     false},
    {"heartbeat with another number",
     [](Device& d) { return d.Wrap(d.Service(8, 1, {1, 0, 6})); }, true},
    {"event with another number",
     [](Device& d) { return d.Wrap(d.Event(1, 0x20, {}, ConsoleNumber{2, 0, 5})); }, true},
    {"service telegram without marker",
     [](Device& d) { return d.Wrap(WithCheck({0xE9, 7, 0x56, 8, 1, 0, 5, 1, 0})); }, true},
};

TEST_F(ProcessTest, DroppedDeviceTelegramsChangeNothingAndGetNoAnswer) {
  settings.GlRegOn = true;
  Rec(kIdx).lastHbSeq = 0x77;
  for (const DropCase& c : kDrops) {
    sent.clear();
    Device d = dev;
    d.send = GetU32(Rec(kIdx).C_iResiv);  // in step with the server
    const Bytes datagram = c.build(d);
    auto before = TableBytes();
    Feed(datagram, "10.0.0.9", 4999, 2);
    auto after = TableBytes();
    if (c.chainAdvances) {
      const size_t off = kIdx * sizeof(ClientRecord) + offsetof(ClientRecord, C_iResiv);
      std::memcpy(before.data() + off, after.data() + off, 4);
    }
    EXPECT_TRUE(sent.empty()) << c.name;
    EXPECT_TRUE(before == after) << c.name;
    EXPECT_TRUE(Messages().empty()) << c.name;
    EXPECT_TRUE(refreshed.empty()) << c.name;
  }
  // The device is still in step: its next heartbeat is answered.
  dev.send = GetU32(Rec(kIdx).C_iResiv);
  Feed(dev.Wrap(dev.Heartbeat(2)));
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(dev.Open(sent[0].bytes));
}

TEST_F(ProcessTest, ShortAndOversizedDatagrams) {
  const Bytes hb = dev.Wrap(dev.Heartbeat(1));
  const auto before = TableBytes();
  // Bytes left in the slot behind a short datagram are not a telegram.
  for (size_t len : {size_t(0), size_t(1), hb.size() - 1}) {
    FeedWork(hb, len);
    EXPECT_TRUE(sent.empty()) << len;
  }
  EXPECT_TRUE(before == TableBytes());

  // Length byte above 126 in a full buffer, for every type, from the selected
  // device's own address.
  link.handoff.GlNumStruct = kIdx;
  link.handoff.GlWaitCode = 0x12;
  int deliveries = 0;
  link.handoff.configuratorDelivery = [&](const uint8_t*) { ++deliveries; };
  for (uint8_t type : {0xEA, 0xE9, 0xEF, 0xFE}) {
    for (int L : {127, 200, 255}) {
      Bytes d(128, 0x55);
      d[0] = type;
      d[1] = uint8_t(L);
      Feed(d);
    }
  }
  EXPECT_TRUE(sent.empty());
  EXPECT_EQ(deliveries, 0);
  EXPECT_EQ(int(link.handoff.GlWaitCode), 0x12);
  EXPECT_EQ(link.handoff.GlAnswerBuf[0], 0);
  EXPECT_TRUE(before == TableBytes());

  // A 200-byte datagram keeps its first 128 bytes; the telegram in them counts.
  Bytes big = dev.Wrap(dev.Heartbeat(2));
  big.resize(200, 0xAB);
  Feed(big);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_TRUE(dev.Open(sent[0].bytes));
}

// ---- address tracking

TEST_F(ProcessTest, AddressTrackingFollowsTheDatagrams) {
  struct Case {
    bool event;
    const char* addr;
    uint16_t port;
    uint8_t iface;
    bool regOn;
    const char* message;  // empty: none
    bool refresh;
  };
  const Case cases[] = {
      {false, "10.0.0.9", 4002, 0, true,
       "Новый IP и Port(EA). IP=10.0.0.9 Port=4002 Пульт.N=1/0/5", true},
      {false, "10.0.0.9", 4002, 0, true, "", false},  // nothing changed
      {false, "10.0.0.9", 4002, 2, true,
       "Новый IP и Port(EA). IP=10.0.0.9 Port=4002 Пульт.N=1/0/5", true},  // interface only
      {true, "10.0.0.10", 4003, 2, true,
       "Новый IP и Port E9. IP=10.0.0.10Port=4003Пульт.N=1/0/5", false},
      {true, "10.0.0.11", 4003, 2, false, "", false},  // registration messages off
      {false, "10.0.0.12", 4004, 1, false, "", true},
  };
  uint8_t seq = 1;
  for (const Case& c : cases) {
    sent.clear();
    refreshed.clear();
    settings.GlRegOn = c.regOn;
    Rec(kIdx).armRead = Rec(kIdx).armWrite = Rec(kIdx).armFull = 0;
    const Bytes inner = c.event ? dev.Event(seq, 0x20) : dev.Heartbeat(seq);
    ++seq;
    Feed(dev.Wrap(inner), c.addr, c.port, c.iface);
    ASSERT_EQ(sent.size(), 1u) << c.addr;
    EXPECT_EQ(sent[0].addr, c.addr);
    EXPECT_EQ(sent[0].port, c.port);
    EXPECT_EQ(sent[0].iface, c.iface);
    const ClientRecord& r = Rec(kIdx);
    EXPECT_EQ(devlink::PStrView(r.peerAddr), c.addr);
    EXPECT_EQ(devlink::PeerPort(r), c.port);
    EXPECT_EQ(r.iface, c.iface);
    const std::vector<std::string> expected =
        *c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{};
    EXPECT_EQ(Messages(), expected) << c.addr;
    EXPECT_EQ(refreshed, c.refresh ? std::vector<uint16_t>{kIdx} : std::vector<uint16_t>{})
        << c.addr;
    ASSERT_TRUE(dev.Open(sent[0].bytes));
  }
}

// ---- echo

TEST_F(ProcessTest, EchoIsReturnedByteForByte) {
  settings.GlMetricActive = true;
  for (ConsoleNumber n : {kNum, ConsoleNumber{7, 7, 7}}) {
    sent.clear();
    Bytes echo = WithCheck({0xEF, 9, 0x55, 0xBC, n.n1, n.n2, n.n3, 0x11, 1, 0x22, 0});
    echo.insert(echo.end(), {0xAA, 0xBB, 0xCC});  // bytes after the check byte go back too
    Feed(echo, "10.0.0.9", 4010, 1);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].bytes, echo);
    EXPECT_EQ(sent[0].iface, 1);
    EXPECT_EQ(sent[0].addr, "10.0.0.9");
    EXPECT_EQ(sent[0].port, 4010);
  }
  const ClientRecord& r = Rec(kIdx);
  EXPECT_EQ(r.sentCount[1], 1);
  EXPECT_EQ(r.unansweredCount[1], 1);
  EXPECT_EQ(r.sentFlag[1], 1);
  EXPECT_EQ(devlink::PStrView(r.peerAddr), "10.0.0.5");  // an echo moves no address
}

// ---- maintenance hand-off

TEST_F(ProcessTest, LoaderReplyIsStoredExactly) {
  AddDevice(4, {1, 0, 4}, "10.0.0.50", 4001);
  link.handoff.GlNumStruct = 4;
  std::memset(link.handoff.GlLoaderReply, 0xEE, sizeof link.handoff.GlLoaderReply);
  const Bytes reply = {0x00, 0x04, 0x3A, 0x7F};
  // Another device's loader steers nothing.
  Feed(reply, "10.0.0.51", 69, 2);
  EXPECT_EQ(int(link.handoff.GlLoaderReplyFlag), 0);
  // The maintained device's loader answers from a port of its own.
  Feed(reply, "10.0.0.50", 69, 2);
  const devlink::Handoff& h = link.handoff;
  EXPECT_EQ(h.loaderReplyLen, 4);
  EXPECT_EQ(Bytes(h.GlLoaderReply, h.GlLoaderReply + h.loaderReplyLen), reply);
  EXPECT_EQ(int(h.GlLoaderReplyFlag), 1);
  EXPECT_EQ(devlink::PStrView(h.GlTargetHost), "10.0.0.50");
  EXPECT_EQ(h.GlTargetPort, 69);
  EXPECT_TRUE(sent.empty());
}

TEST_F(ProcessTest, TftpRepliesQueueWithTheirSourceOnlyWhileATransferListens) {
  AddDevice(4, {1, 0, 4}, "10.0.0.50", 4001);
  link.handoff.GlNumStruct = 4;
  devlink::Handoff& h = link.handoff;
  const Bytes ack0 = {0, 4, 0, 0}, ack1 = {0, 4, 0, 1};
  const Bytes error = {0, 5, 0, 2, 'n', 'o', 0}, oack = {0, 6, 'b', 0, '9', 0};
  Feed(ack0, "10.0.0.50", 40001);
  EXPECT_EQ(h.tftpReplies.Pending(), 0u) << "nobody listened yet";
  {
    std::lock_guard<std::mutex> lock(link.Lock);
    h.tftpReplies.Listen(true);
  }
  h.GlLoaderReplyFlag = 0;
  Feed(error, "10.0.0.50", 40001);
  Feed(oack, "10.0.0.50", 40002);
  // Neither steers the loader target nor counts as the loader's ACK.
  EXPECT_EQ(int(h.GlLoaderReplyFlag), 0);
  EXPECT_EQ(h.GlTargetPort, 40001);
  Feed(ack1, "10.0.0.51", 40001);  // another device's loader
  Feed(ack1, "10.0.0.50", 40003);
  EXPECT_EQ(int(h.GlLoaderReplyFlag), 1);
  EXPECT_EQ(h.GlTargetPort, 40003);

  struct Want {
    Bytes bytes;
    uint16_t port;
  };
  const Want want[] = {{error, 40001}, {oack, 40002}, {ack1, 40003}};
  std::lock_guard<std::mutex> lock(link.Lock);
  ASSERT_EQ(h.tftpReplies.Pending(), 3u);
  for (const Want& w : want) {
    devlink::IntakeEntry e{};
    ASSERT_TRUE(h.tftpReplies.Pop(&e));
    EXPECT_EQ(Bytes(e.data, e.data + e.Length()), w.bytes);
    EXPECT_EQ(e.Peer(), "10.0.0.50");
    EXPECT_EQ(e.Port(), w.port);
  }
  devlink::IntakeEntry e{};
  EXPECT_FALSE(h.tftpReplies.Pop(&e));
  EXPECT_TRUE(sent.empty());
}

TEST_F(ProcessTest, PlainMaintenanceAnswers) {
  struct Case { uint8_t code, waitBefore, waitAfter; bool stored; };
  const Case cases[] = {
      {0x82, 2, 0, true},  // a refusal ends the wait for its code
      {0x15, 0xFF, 0xFF, true},
      {0x15, 0x15, 0, true},
      {0x8B, 0x0B, 0, true},
      {0x8B, 0x8B, 0x8B, true},
      {0xF4, 0xF4, 0xF4, true},
      {0xF0, 0xF0, 0xF0, false},
      {0x33, 0x33, 0x33, false},
  };
  devlink::Handoff& h = link.handoff;
  AddDevice(4, {1, 0, 4}, "192.168.7.7", 4001);
  h.GlNumStruct = 4;
  for (const Case& c : cases) {
    std::memset(h.GlAnswerBuf, 0, sizeof h.GlAnswerBuf);
    h.GlWaitCode = c.waitBefore;
    h.statesArrived = 0;
    h.operationFinished = 0;
    const Bytes t = WithCheck({0xEF, 6, 0x55, c.code, 1, 2, 3, 0});
    // Only the maintained device's answers count, from whatever port.
    Feed(t, "192.168.7.8", 4001, 2);
    EXPECT_EQ(int(h.GlWaitCode), c.waitBefore) << int(c.code);
    EXPECT_EQ(h.GlAnswerBuf[3], 0) << int(c.code);
    Feed(t, "192.168.7.7", 7000, 2);
    EXPECT_EQ(int(h.GlWaitCode), c.waitAfter) << int(c.code);
    EXPECT_EQ(h.GlAnswerBuf[3], c.stored ? c.code : 0) << int(c.code);
    if (c.stored) {
      EXPECT_EQ(0, std::memcmp(h.GlAnswerBuf, t.data(), t.size())) << int(c.code);
    }
    EXPECT_EQ(int(h.statesArrived), c.code == 0xF4 ? 1 : 0);
    EXPECT_EQ(int(h.operationFinished), c.code == 0xF0 ? 1 : 0);
  }
  EXPECT_TRUE(sent.empty());
}

TEST_F(ProcessTest, EncryptedAnswerOfTheSelectedDevice) {
  devlink::Handoff& h = link.handoff;
  h.GlNumStruct = kIdx;
  const Bytes answer = WithCheck({0xE9, 9, 0x55, 0x12, 1, 0, 5, 0, 0x33, 0x44, 0});

  struct Case { const char* name; int chainSkip; uint16_t port; bool taken; };
  const Case cases[] = {
      {"chaining six ahead", 6, 4001, false},
      {"another port", 0, 4002, false},
      {"right", 0, 4001, true},
  };
  for (const Case& c : cases) {
    std::memset(h.GlAnswerBuf, 0x5C, sizeof h.GlAnswerBuf);
    h.GlWaitCode = 0x12;
    Device d = dev;
    d.send += uint32_t(c.chainSkip);
    const uint32_t resiv = GetU32(Rec(kIdx).C_iResiv);
    Feed(d.Encrypt(answer), "10.0.0.5", c.port, 0);
    if (c.taken) {
      EXPECT_EQ(0, std::memcmp(h.GlAnswerBuf, answer.data(), answer.size())) << c.name;
      EXPECT_EQ(int(h.GlWaitCode), 0) << c.name;
      EXPECT_EQ(GetU32(Rec(kIdx).C_iResiv), resiv + 1) << c.name;
    } else {
      EXPECT_EQ(h.GlAnswerBuf[0], 0x5C) << c.name;
      EXPECT_EQ(h.GlAnswerBuf[127], 0x5C) << c.name;
      EXPECT_EQ(int(h.GlWaitCode), 0x12) << c.name;
      EXPECT_EQ(GetU32(Rec(kIdx).C_iResiv), resiv) << c.name;
    }
  }
  EXPECT_TRUE(sent.empty());
}

TEST_F(ProcessTest, ConfiguratorAnswerOnlyFromTheSelectedDevicesAddressAndPort) {
  link.handoff.GlNumStruct = kIdx;
  std::vector<Bytes> blocks;
  link.handoff.configuratorDelivery = [&](const uint8_t* b) {
    blocks.emplace_back(b, b + devlink::kDeliveryBlock);
  };
  const Bytes t = WithCheck({0xFE, 6, 0x55, 0x30, 9, 8, 7, 0});
  Feed(t, "10.0.0.5", 4002, 0);  // another port
  Feed(t, "10.0.0.6", 4001, 0);  // another address
  Bytes bad = t;
  bad[t.size() - 1] ^= 1;
  Feed(bad, "10.0.0.5", 4001, 0);
  EXPECT_TRUE(blocks.empty());
  Feed(t, "10.0.0.5", 4001, 2);  // the interface is not compared
  ASSERT_EQ(blocks.size(), 1u);
  const Bytes& b = blocks[0];
  EXPECT_EQ(0, std::memcmp(b.data(), t.data(), t.size()));
  EXPECT_EQ(b[128], t.size());
  EXPECT_EQ(b[129], 0);
  for (size_t k = 130; k < devlink::kDeliveryBlock; ++k) EXPECT_EQ(b[k], 0) << k;
  EXPECT_TRUE(sent.empty());
}

// ---- sender

TEST_F(ProcessTest, SenderInterfaceOutOfRangeAndFailingEndpoint) {
  settings.GlOtladka = true;  // registration messages visible
  ClientRecord& r = Rec(kIdx);
  const uint8_t bytes[3] = {1, 2, 3};
  r.iface = 3;
  sender.SendToClient(r, 3, bytes);
  sender.SendTo(-1, "10.0.0.5", 4001, 3, bytes);
  EXPECT_TRUE(sent.empty());
  EXPECT_TRUE(Messages().empty());

  r.iface = 0;
  ep0.fail = true;
  sender.SendToClient(r, 3, bytes);
  sender.SendToClient(r, 3, bytes);
  EXPECT_EQ(sent.size(), 2u);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Узел 10.0.0.5:4001 недоступен.",
                                                  "Узел 10.0.0.5:4001 недоступен."}));

  // A failed answer does not stop the processing.
  sent.clear();
  Feed(dev.Wrap(dev.Heartbeat(0x66)));
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(r.lastHbSeq, 0x66);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Узел 10.0.0.5:4001 недоступен."});

  // An interface whose server is not there reports the same way.
  devlink::Sender unbound(sink);
  unbound.SendTo(1, "10.0.0.7", 5, 3, bytes);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Узел 10.0.0.7:5 недоступен."});
}

// ---- service answers

TEST(ServiceAnswer, Texts) {
  struct Case { uint8_t code; Bytes data; const char* text; };  // text empty: no message
  const Case cases[] = {
      {0x32, {0, 1}, " Баланс SIM1 :Ниже допустимого!"},
      {0x32, {0, 2}, " Баланс SIM2 Ниже допустимого!"},
      {0x32, {0, 1, 0}, ""},  // wrong length
      {0x44, {0, 0xFF, 0xFF, 1}, " Баланс SIM1:Выполняется!"},
      {0x44, {0, 0, 0, 2}, " Баланс SIM2:Не определен!"},
      {0x44, {0, 0xD2, 0x04, 1}, " Баланс SIM1:1234 руб."},
      {0x44, {0, 0xD2}, ""},
      {0x45, {0, 1}, " Уровень сигн. SIM1:Не определен!"},
      {0x45, {5, 2}, " Уровень сигн. SIM2:5 ед.(Плохо)"},
      {0x45, {6, 1}, " Уровень сигн. SIM1:6 ед.(Удовл.)"},
      {0x45, {17, 1}, " Уровень сигн. SIM1:17 ед.(Удовл.)"},
      {0x45, {18, 1}, " Уровень сигн. SIM1:18 ед.(Хорошо)"},
      {0x46, {0, 1}, " Тип:LAN, Канал:IP1"},
      {0x46, {1, 3}, " Тип:GSM SIM1 Канал:IP3"},
      {0x46, {2, 4}, " Тип:GSM SIM2 Канал:IP4"},
      {0x7D, {1}, " Исполнено:\"Выкл.За неуплату.\""},
      {0x7D, {2, 0, 0, 0}, " Исполнено:\"Вкл.после неуплаты.\""},
      {0x20, {1, 2}, ""},
  };
  console::ConsoleSettings s;
  console::LineQueue q;
  platform::FixedClock clock;
  console::MessageSink sink(s, q, clock);
  ClientRecord r{};
  r.serviceAnswerExpected = 1;
  Device d;
  d.n = kNum;
  for (bool expected : {true, false}) {
    r.serviceAnswerExpected = expected;
    for (const Case& c : cases) {
      for (bool balanseOff : {false, true}) {
        s.GlBalanseOff = balanseOff;
        uint8_t t[128] = {};
        const Bytes ev = d.Event(9, c.code, c.data);
        std::memcpy(t, ev.data(), ev.size());
        const bool suppress = armlink::DecodeServiceAnswer(r, t, sink);
        const bool balance = (c.code == 0x32 && t[1] == 10) || (c.code == 0x44 && t[1] == 12);
        EXPECT_EQ(suppress, balanseOff && balance) << int(c.code) << " L=" << int(t[1]);
        std::vector<console::Line> lines;
        q.Drain(lines, 0);
        if (expected && *c.text) {
          ASSERT_EQ(lines.size(), 1u) << c.text;
          EXPECT_EQ(lines[0].text, std::string("0:0:0 Пульт.N-1/0/5") + c.text);
        } else {
          EXPECT_TRUE(lines.empty()) << int(c.code);
        }
      }
    }
  }
  // A damaged event is neither decoded nor suppressed.
  s.GlBalanseOff = true;
  r.serviceAnswerExpected = 1;
  uint8_t t[128] = {};
  const Bytes ev = d.Event(9, 0x44, {0, 0xFF, 0xFF, 1});
  std::memcpy(t, ev.data(), ev.size());
  t[12] ^= 1;
  EXPECT_FALSE(armlink::DecodeServiceAnswer(r, t, sink));
  std::vector<console::Line> lines;
  q.Drain(lines, 0);
  EXPECT_TRUE(lines.empty());
}

}  // namespace
