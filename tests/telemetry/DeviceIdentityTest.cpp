#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

#include "telemetry/DeviceIdentity.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestUser.h"
#include "util/Encoding.h"

using testsupport::TestUser;
using testsupport::WriteFile;

namespace {

const std::string kGuid = "3f2504e0-4f89-11d3-9a0c-0305e82c3301";
// SHA-1 of "00-1A-2B-3C-4D-5E" + "DWW", of the address alone and of the serial alone.
const std::string kHashBoth = "8680d1098d92ce84db7e5e8e1f8433fc15d384c2";
const std::string kHashAddress = "7304cf1868d986995c3b596b473502ada2a50076";
const std::string kHashSerial = "e0dea76673cf30c319930c9234e49ca80f572c05";

// Sources with fixed answers that count how often they are asked.
struct FixedSources {
  std::string address = "00-1A-2B-3C-4D-5E";
  std::string serial = "DWW";
  std::string guid = kGuid;
  std::atomic<int> asked{0};

  DeviceSources get() {
    return {[this] { return ++asked, address; }, [this] { return ++asked, serial; }, [this] { return ++asked, guid; }};
  }
};

std::string Id(const std::string& hash, const std::string& guid) { return "ZARIRER\x02" + hash + "\x02" + guid; }

std::string Utf8(const std::u16string& text) { return WideToUtf8(text); }

}  // namespace

TEST(DeviceIdentity, MakeDeviceIdHashesAddressAndSerialAndAddsTheGuid) {
  struct Case {
    std::string address, serial, guid, expected;
  } cases[] = {
      {"00-1A-2B-3C-4D-5E", "DWW", kGuid, Id(kHashBoth, kGuid)},
      {"00-1A-2B-3C-4D-5E", "", kGuid, Id(kHashAddress, kGuid)},
      {"", "DWW", kGuid, Id(kHashSerial, kGuid)},
      {"", "", kGuid, Id("", kGuid)},
      {"", "", "", Id("", "")},
      {"00-1A-2B-3C-4D-5EXYZ", "DWW", kGuid, Id(kHashBoth, kGuid)},  // address cut to 17
      {"00-1A-2B-3C-4D-5E", "DWW" + std::string(1100, 'x'), kGuid,
       Id(GetHardwareHash(DeviceSources{
              [] { return std::string("00-1A-2B-3C-4D-5E"); }, [] { return "DWW" + std::string(1020, 'x'); }, {}}),
          kGuid)},  // serial cut to 1023
  };
  for (const Case& c : cases) {
    FixedSources sources;
    sources.address = c.address;
    sources.serial = c.serial;
    sources.guid = c.guid;
    EXPECT_EQ(Utf8(MakeDeviceId(sources.get())), c.expected) << c.address << "|" << c.serial;
  }
  EXPECT_EQ(Id(kHashBoth, kGuid).size(), 85u);
}

TEST(DeviceIdentity, FirstCallStoresTheIdAndLaterCallsReadItBack) {
  TestUser user;
  FixedSources sources;
  std::u16string id = GetDeviceId(sources.get());
  EXPECT_EQ(Utf8(id), Id(kHashBoth, kGuid));
  EXPECT_EQ(sources.asked, 3);
  std::string stored;
  ASSERT_TRUE(user.store().ReadBinary(kDeviceRegistryKey, kDeviceIdValueName, stored));
  EXPECT_EQ(stored, Id(kHashBoth, kGuid));

  sources.guid = "another";
  EXPECT_EQ(GetDeviceId(sources.get()), id);
  EXPECT_EQ(sources.asked, 3);
}

TEST(DeviceIdentity, AStoredIdIsReturnedUnchangedWithoutAskingTheSources) {
  // The stored value's type and data side by side: GCC 12 at -O3 takes the
  // clean-up of a table holding nested RegistryValue aggregates for a use of
  // uninitialized strings.
  const struct Case {
    RegistryType type;
    std::string data;
    std::string expected;  // "" for a new id
  } cases[] = {
      {RegistryType::Binary, "ZARIRER\x02stored\x02id", "ZARIRER\x02stored\x02id"},
      {RegistryType::Text, "ZARIRER\x02text\x02id", "ZARIRER\x02text\x02id"},
      {RegistryType::Text, std::string(127, 't'), std::string(127, 't')},
      {RegistryType::Binary, std::string(256, 'b'), std::string(256, 'b')},
      {RegistryType::Binary, std::string("abc\0def", 7), "abc"},
      // Values that read as empty give a new id.
      {RegistryType::Binary, "", ""},
      {RegistryType::Binary, std::string("\0abc", 4), ""},
      {RegistryType::Binary, std::string(257, 'b'), ""},
      {RegistryType::Text, std::string(128, 't'), ""},
  };
  for (const Case& c : cases) {
    TestUser user;
    RegistryStore store = user.store();
    ASSERT_TRUE(c.type == RegistryType::Text ? store.WriteText(kDeviceRegistryKey, kDeviceIdValueName, c.data)
                                             : store.WriteBinary(kDeviceRegistryKey, kDeviceIdValueName, c.data));
    FixedSources sources;
    std::string id = Utf8(GetDeviceId(sources.get()));
    std::optional<RegistryValue> after = store.Query(kDeviceRegistryKey, kDeviceIdValueName);
    ASSERT_TRUE(after.has_value());
    if (c.expected.empty()) {
      EXPECT_EQ(id, Id(kHashBoth, kGuid)) << c.data.size();
      EXPECT_EQ(after->type, RegistryType::Binary);
      EXPECT_EQ(after->data, id);
    } else {
      EXPECT_EQ(id, c.expected);
      EXPECT_EQ(sources.asked, 0);
      // Not rewritten: a text value stays text.
      EXPECT_EQ(after->type, c.type);
      EXPECT_EQ(after->data, c.data);
    }
  }
}

TEST(DeviceIdentity, GclidFieldCarriesTheStoredReferralCode) {
  struct Case {
    std::optional<RegistryValue> stored;
    std::string expected;
  } cases[] = {
      {std::nullopt, ""},
      {RegistryValue{RegistryType::Text, "xyz"}, "gclid\x02xyz"},
      {RegistryValue{RegistryType::Binary, "xyz"}, "gclid\x02xyz"},
      {RegistryValue{RegistryType::Text, ""}, ""},
      {RegistryValue{RegistryType::Text, "日本"}, "gclid\x02日本"},
      {RegistryValue{RegistryType::Text, std::string(128, 'g')}, ""},
  };
  for (const Case& c : cases) {
    TestUser user;
    RegistryStore store = user.store();
    if (c.stored && c.stored->type == RegistryType::Text) {
      ASSERT_TRUE(store.WriteText(kDeviceRegistryKey, kReferralValueName, c.stored->data));
    }
    if (c.stored && c.stored->type == RegistryType::Binary) {
      ASSERT_TRUE(store.WriteBinary(kDeviceRegistryKey, kReferralValueName, c.stored->data));
    }
    EXPECT_EQ(Utf8(GetGclidField()), c.expected);
  }
}

TEST(DeviceIdentity, TheIdMadeByOneProcessIsReadByTheNext) {
  TestUser user;
  testsupport::TempDir machine;
  WriteFile(machine.path() / "sys/class/net/eth0/address", "00:1a:2b:3c:4d:5e\n");
  WriteFile(machine.path() / "sys/class/net/eth0/type", "1\n");
  WriteFile(machine.path() / "sys/block/sda/device/serial", "DWW\n");
  WriteFile(machine.path() / "proc/sys/kernel/random/uuid", kGuid + "\n");

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    bool made = WideToUtf8(GetDeviceId(SystemDeviceSources(machine.str()))) == Id(kHashBoth, kGuid);
    _exit(made ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  FixedSources sources;
  EXPECT_EQ(Utf8(GetDeviceId(sources.get())), Id(kHashBoth, kGuid));
  EXPECT_EQ(sources.asked, 0);
}

TEST(DeviceIdentity, ConcurrentFirstCallsAgreeOnOneId) {
  TestUser user;
  constexpr int kCallers = 6;
  FixedSources sources;
  std::atomic<int> guids{0};
  DeviceSources counted = sources.get();
  counted.guidText = [&] { return std::to_string(++guids); };
  std::latch start(kCallers);
  std::vector<std::u16string> ids(kCallers);
  std::vector<std::thread> callers;
  for (int i = 0; i < kCallers; ++i) {
    callers.emplace_back([&, i] {
      start.arrive_and_wait();
      ids[i] = GetDeviceId(counted);
    });
  }
  for (auto& caller : callers) caller.join();
  EXPECT_EQ(guids, 1);
  for (const auto& id : ids) EXPECT_EQ(id, ids[0]);
}
