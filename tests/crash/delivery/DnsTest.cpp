// DNS packets, the query over a datagram socket and the lookup of the mail exchanger.
#include <gtest/gtest.h>

#include <map>

#include "crash/delivery/KXDnsMessage.h"
#include "crash/delivery/KXDnsQuery.h"
#include "crash/delivery/KXMailExchanger.h"
#include "tests/crash/delivery/DnsPackets.h"
#include "tests/crash/delivery/FakeNetwork.h"

namespace kx {
namespace {

using namespace test;

const std::string kQuery = *BuildDnsQuery("example.com", kDnsTypeMX, 1);

TEST(DnsMessage, QueryPacket) {
  EXPECT_EQ(kQuery, std::string("\0\1\1\0\0\1\0\0\0\0\0\0\7example\3com\0\0\x0f\0\1", 29));
  EXPECT_EQ(*BuildDnsQuery("example.com.", kDnsTypeNS, 0xBEEF),
            std::string("\xBE\xEF\1\0\0\1\0\0\0\0\0\0\7example\3com\0\0\2\0\1", 29));
  for (std::string bad : {std::string(), std::string("."), std::string("a..b"), std::string(".a"),
                          std::string(64, 'x') + ".com", std::string(130, 'a').replace(1, 127, std::string(127, '.'))})
    EXPECT_FALSE(BuildDnsQuery(bad, kDnsTypeMX, 1)) << bad;
  std::string long253;
  while (long253.size() < 250)
    long253 += "abcdefghi.";
  long253 += "com";
  EXPECT_TRUE(BuildDnsQuery(long253.substr(0, 253), kDnsTypeMX, 1));
  EXPECT_FALSE(BuildDnsQuery(long253 + ".abcdef", kDnsTypeMX, 1));
}

TEST(DnsMessage, MxAnswersKeepTheirOrderAndFollowPointers) {
  // The first record has the larger preference; "mx1" continues with a pointer to "example.com".
  const std::string records = Record(5, Labels("alias.example.com")) + MxRecord(20, Labels("mx2.example.com")) +
                              MxRecord(10, "\3mx1\xC0\x0C");
  KXDnsAnswer answer = ParseDnsAnswer(Response(kQuery, {3, 0}, records), kQuery);
  EXPECT_TRUE(answer.forQuery);
  EXPECT_EQ(answer.answers, (std::vector<std::string>{"mx2.example.com", "mx1.example.com"}));

  // Records that do not fit: reading stops there and keeps what came before.
  std::string cut = Response(kQuery, {2, 0}, MxRecord(5, Labels("mx.example.com")) + MxRecord(5, Labels("b")));
  cut.resize(cut.size() - 3);
  EXPECT_EQ(ParseDnsAnswer(cut, kQuery).answers, std::vector<std::string>{"mx.example.com"});
  // A name running past its record's data is not taken.
  std::string overrun = Record(15, U16(1) + "\2mx") + std::string(1, '\0');
  EXPECT_TRUE(ParseDnsAnswer(Response(kQuery, {1, 0}, overrun), kQuery).answers.empty());
  // More records announced than present.
  EXPECT_EQ(ParseDnsAnswer(Response(kQuery, {40000, 0}, MxRecord(1, Labels("m.x"))), kQuery).answers.size(), 1u);
}

TEST(DnsMessage, PointersCannotLoop) {
  struct Case {
    const char *what;
    std::string data;
  } cases[] = {
      {"pointer to itself", U16(1) + std::string("\xC0\x00", 2)},
      {"pointer forwards", U16(1) + "\xC0\xFF"},
      {"label then pointer back into the same name", U16(1) + std::string("\1a\xC0\x00", 4)},
      {"reserved label type", U16(1) + "\x80x"},
      {"pointer cut off", U16(1) + "\xC0"},
  };
  for (Case &c : cases) {
    // Point the self-references at the record data's own offset.
    std::string packet = Response(kQuery, {1, 0}, Record(15, c.data));
    const size_t dataAt = packet.size() - c.data.size();
    if (c.data.size() >= 4 && static_cast<unsigned char>(c.data[c.data.size() - 2]) == 0xC0 &&
        c.data[c.data.size() - 1] == '\0')
      packet[packet.size() - 1] = static_cast<char>(dataAt + 2);
    EXPECT_TRUE(ParseDnsAnswer(packet, kQuery).answers.empty()) << c.what;
  }
  // Two names that point at each other.
  std::string packet = std::string(12, '\0') + "\xC0\x0E" + "\xC0\x0C";
  size_t offset = 12;
  EXPECT_FALSE(ReadDnsName(packet, offset));
  offset = 14;
  EXPECT_FALSE(ReadDnsName(packet, offset));
}

TEST(DnsMessage, OnlyResponsesToTheQueryCount) {
  const std::string good = Response(kQuery, {1, 0}, MxRecord(1, Labels("mx.example.com")));
  std::string otherId = good;
  otherId[1] = 2;
  std::string notResponse = good;
  notResponse[2] = 0x01;
  const std::string otherQuestion = *BuildDnsQuery("example.org", kDnsTypeMX, 1);
  std::string otherName = Response(otherQuestion, {1, 0}, MxRecord(1, Labels("mx.example.org")));
  for (const std::string *packet : {&otherId, &notResponse, &otherName})
    EXPECT_FALSE(ParseDnsAnswer(*packet, kQuery).forQuery);
  // The question may come back in other letter case.
  std::string upper = good;
  upper.replace(13, 7, "EXAMPLE");
  EXPECT_EQ(ParseDnsAnswer(upper, kQuery).answers.size(), 1u);
  KXDnsAnswer nameError = ParseDnsAnswer(Response(kQuery, {1, 0}, MxRecord(1, Labels("mx")), 3), kQuery);
  EXPECT_TRUE(nameError.forQuery);
  EXPECT_TRUE(nameError.answers.empty());
  EXPECT_FALSE(ParseDnsAnswer(good.substr(0, 11), kQuery).forQuery);
}

TEST(DnsMessage, NsAnswerAndReferrals) {
  const std::string query = *BuildDnsQuery("example.com", kDnsTypeNS, 1);
  const std::string records = Record(2, Labels("ns1.example.com")) + Record(6, Labels("soa.example.com") + "x") +
                              Record(2, "\3ns2\xC0\x0C");
  KXDnsAnswer answer = ParseDnsAnswer(Response(query, {1, 2}, records), query);
  EXPECT_EQ(answer.answers, std::vector<std::string>{"ns1.example.com"});
  EXPECT_EQ(answer.authorities, std::vector<std::string>{"ns2.example.com"});
}

struct DnsRun {
  FakeNetwork network;
  std::vector<std::string> servers{"ns1.example.net", "ns2.example.net"};
  KXDnsOptions options;
  std::function<std::vector<FakeDatagramReply>(std::string_view)> answer;

  DnsRun() {
    network.names["ns1.example.net"] = kLoopback;
    network.names["ns2.example.net"] = kLoopback;
    network.answer = [this](std::string_view packet, uint16_t port) {
      EXPECT_EQ(port, 53);
      return answer ? answer(packet) : std::vector<FakeDatagramReply>{};
    };
  }
  KXDnsNames Ask() { return QueryDns(network, "example.com", servers, kDnsTypeMX, options); }
};

TEST(DnsQuery, ForeignPacketsAreIgnoredAndDoNotExtendTheWait) {
  DnsRun run;
  run.answer = [](std::string_view query) {
    const std::string good = Response(query, {1, 0}, MxRecord(1, Labels("mx.example.com")));
    std::string otherId = good;
    otherId[0] ^= 0x55;
    return std::vector<FakeDatagramReply>{{Response(query, {1, 0}, MxRecord(1, Labels("evil.example"))), 0x7F000009,
                                           53, 5},
                                          {good, kLoopback, 5353, 6},
                                          {otherId, kLoopback, 53, 7},
                                          {good, kLoopback, 53, 8}};
  };
  EXPECT_EQ(run.Ask().answers, std::vector<std::string>{"mx.example.com"});

  // A stream of foreign packets while the real answer is late: the wait still ends after 5 s.
  DnsRun late;
  late.servers = {"ns1.example.net"};
  late.answer = [](std::string_view query) {
    std::vector<FakeDatagramReply> replies;
    for (uint64_t t = 1; t <= 20; ++t)
      replies.push_back({Response(query, {1, 0}, MxRecord(1, Labels("evil.example"))), 0x7F000009, 53, t * 1000});
    replies.push_back({Response(query, {1, 0}, MxRecord(1, Labels("mx.example.com"))), kLoopback, 53, 21000});
    return replies;
  };
  const uint64_t start = late.network.now;
  EXPECT_TRUE(late.Ask().answers.empty());
  EXPECT_LE(late.network.now - start, 5000u);
}

TEST(DnsQuery, EmptyResponsesCountAndServersAreSkipped) {
  DnsRun run;
  run.options.nextIdentifier = [] { return uint16_t{0x4242}; };
  int sent = 0;
  run.answer = [&sent](std::string_view query) {
    if (sent++ == 0)
      return std::vector<FakeDatagramReply>{{Response(query, {0, 0}, "", 3), kLoopback, 53, 10}};
    return std::vector<FakeDatagramReply>{{Response(query, {1, 0}, MxRecord(1, Labels("mx.example.com"))), kLoopback,
                                           53, 4000}};
  };
  run.servers = {"ns1.example.net", "unknown.example.net", "ns2.example.net"};
  EXPECT_EQ(run.Ask().answers, std::vector<std::string>{"mx.example.com"});
  ASSERT_EQ(run.network.datagramsSent.size(), 2u);
  EXPECT_EQ(run.network.datagramsSent[0].substr(0, 2), "\x42\x42");

  DnsRun none;
  none.servers = {"unknown.example.net"};
  EXPECT_TRUE(none.Ask().answers.empty());
  EXPECT_TRUE(none.network.datagramsSent.empty());
}

// A scripted DNS: answers by "type name @servers".
struct ScriptedDns {
  std::map<std::string, KXDnsNames> script;
  std::vector<std::string> asked;
  KXDnsQueryFn Fn() {
    return [this](const std::string &name, const std::vector<std::string> &servers, uint16_t type) {
      std::string key = (type == kDnsTypeMX ? "MX " : "NS ") + name + " @";
      for (const std::string &s : servers)
        key += " " + s;
      asked.push_back(key);
      auto it = script.find(key);
      return it == script.end() ? KXDnsNames{} : it->second;
    };
  }
};

TEST(MailExchanger, SystemServersAskDomainThenParent) {
  ScriptedDns dns;
  dns.script["MX example.co.uk @ 10.0.0.53"] = {{"mx.example.co.uk", "mx2.example.co.uk"}, {}};
  EXPECT_EQ(FindMailExchanger("Dev <dev@mail.eu.example.co.uk>", {"10.0.0.53"}, kRootNameServers, dns.Fn()),
            "mx.example.co.uk");
  EXPECT_EQ(dns.asked, (std::vector<std::string>{"MX mail.eu.example.co.uk @ 10.0.0.53", "MX example.co.uk @ 10.0.0.53"}));

  dns.asked.clear();
  EXPECT_EQ(FindMailExchanger("dev@example.com", {"10.0.0.53"}, kRootNameServers, dns.Fn()), "");
  EXPECT_EQ(dns.asked, std::vector<std::string>{"MX example.com @ 10.0.0.53"});
  EXPECT_EQ(FindMailExchanger("no-domain", {"10.0.0.53"}, kRootNameServers, dns.Fn()), "");
}

TEST(MailExchanger, RootWalkFollowsReferrals) {
  ScriptedDns dns;
  dns.script["NS example.com @ root1 root2"] = {{}, {"tld1", "tld2"}};
  dns.script["NS example.com @ tld1 tld2"] = {{}, {"ns.example.com"}};
  dns.script["NS example.com @ ns.example.com"] = {{"ns1.example.com"}, {}};
  dns.script["MX example.com @ ns1.example.com"] = {{"mx.example.com"}, {}};
  EXPECT_EQ(FindMailExchanger("dev@example.com", {}, {"root1", "root2"}, dns.Fn()), "mx.example.com");
  EXPECT_EQ(dns.asked, (std::vector<std::string>{"NS example.com @ root1 root2", "NS example.com @ tld1 tld2",
                                                 "NS example.com @ ns.example.com",
                                                 "MX example.com @ ns1.example.com"}));

  // Referrals without end: ten further steps, then the last referrals are asked for the MX.
  ScriptedDns endless;
  endless.script["NS example.com @ r"] = {{}, {"loop"}};
  endless.script["NS example.com @ loop"] = {{}, {"loop"}};
  EXPECT_EQ(FindMailExchanger("dev@example.com", {}, {"r"}, endless.Fn()), "");
  EXPECT_EQ(endless.asked.size(), 1u + 1u + 10u + 1u);
  EXPECT_EQ(endless.asked.back(), "MX example.com @ loop");

  ScriptedDns lost;
  EXPECT_EQ(FindMailExchanger("dev@example.com", {}, {"r"}, lost.Fn()), "");
  EXPECT_EQ(lost.asked.size(), 1u) << "no referral from the roots: nothing else is asked";
}

TEST(MailExchanger, DomainsAndServerLists) {
  EXPECT_EQ(ParentDomain("a.b.c.example.com"), "c.example.com");
  EXPECT_EQ(ParentDomain("example.co.uk"), "example.co.uk");
  EXPECT_EQ(ParentDomain("localhost"), "localhost");
  EXPECT_EQ(SplitNameServerList("10.0.0.1, 10.0.0.2,,"), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(SplitNameServerList(" 10.0.0.1  10.0.0.2 "), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));
  EXPECT_EQ(OrderDnsServers("10.0.0.2", {"10.0.0.1", "10.0.0.2", "10.0.0.3"}),
            (std::vector<std::string>{"10.0.0.2", "10.0.0.1", "10.0.0.3"}));
}

} // namespace
} // namespace kx
