#include "platform/registry.h"

#include <gtest/gtest.h>

#include "support/fake_system.h"
#include "support/param_name.h"

namespace quillet {
namespace {

using testing::FakeRun;
using Bytes = std::vector<unsigned char>;

struct ConversionCase {
    const char* what;
    std::uint32_t type;
    Bytes data;
    const char* expected;  // from GetRegistryValue
};

class RegistryConversion : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(RegistryConversion, GivesTheTextTheRunSees) {
    const auto& c = GetParam();
    FakeRun f;
    f.os.setValue("Software\\KORBOD", "Probe", c.type, c.data);
    EXPECT_EQ(GetRegistryValue(f.ctx, HKEY_LOCAL_MACHINE_HIVE, "Software\\KORBOD\\", "Probe"),
              c.expected)
        << c.what;
}

Bytes sz(const std::string& s) {
    Bytes b(s.begin(), s.end());
    b.push_back(0);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, RegistryConversion,
    ::testing::Values(
        ConversionCase{"text keeps its blanks", 1, sz("  RULK "), "  RULK "},
        ConversionCase{"empty string", 1, sz(""), "0"},
        ConversionCase{"blanks only", 1, sz("   "), "0"},
        ConversionCase{"no data at all", 1, Bytes{}, "0"},
        ConversionCase{"expand string is not expanded", 2, sz("%SystemRoot%\\x"),
                       "%SystemRoot%\\x"},
        ConversionCase{"binary one byte", 3, Bytes{0x05}, "5"},
        ConversionCase{"binary two bytes", 3, Bytes{0x2C, 0x01}, "300"},
        ConversionCase{"binary negative", 3, Bytes{0xFF, 0xFF}, "-1"},
        ConversionCase{"binary low word only", 3, Bytes{0x01, 0x00, 0x01, 0x00}, "1"},
        ConversionCase{"binary longer than the slot", 3, Bytes{7, 0, 9, 9, 9, 9, 9, 9}, "7"},
        ConversionCase{"binary zero is a value", 3, Bytes{0, 0}, "0"},
        ConversionCase{"dword is its first byte as a character", 4, Bytes{0x31, 0, 0, 0}, "1"},
        ConversionCase{"dword zero is not set", 4, Bytes{0, 0, 0, 0}, "0"},
        ConversionCase{"dword without a zero byte abandons the read", 4, Bytes{1, 1, 1, 1}, ""},
        ConversionCase{"string filling its buffer abandons the read", 1, Bytes{'a', 'b'}, ""},
        ConversionCase{"multi string gives its first string", 7, Bytes{'x', 0, 'y', 0, 0}, "x"},
        ConversionCase{"qword as characters", 11, Bytes{'4', '2', 0, 0, 0, 0, 0, 0}, "42"}),
    testing::NameFromWhat{});

TEST(RegistryRead, MissingValueKeyOrOtherHiveReadsAsNotSet) {
    FakeRun f;
    EXPECT_EQ(GetRegistryValue(f.ctx, HKEY_LOCAL_MACHINE_HIVE, "Software\\KORBOD\\", "Nope"), "0");
    EXPECT_EQ(GetRegistryValue(f.ctx, HKEY_LOCAL_MACHINE_HIVE, "Software\\Nobody\\", "Type"), "0");
    EXPECT_EQ(GetRegistryValue(f.ctx, 0x80000001u, "Software\\KORBOD\\", "Type"), "0");
    EXPECT_EQ(GetRegistryValue(f.ctx, HKEY_LOCAL_MACHINE_HIVE, "software\\korbod", "TYPE"), "RULK");
}

TEST(RegistryEnum, JoinsSubkeysInRegistryOrder) {
    FakeRun f;
    EXPECT_EQ(
        EnumRegistryKeys(f.ctx, HKEY_LOCAL_MACHINE_HIVE, "Software\\KORBOD\\ManagedMachines\\"),
        "");
    f.os.addKey("Software\\KORBOD\\ManagedMachines");
    EXPECT_EQ(
        EnumRegistryKeys(f.ctx, HKEY_LOCAL_MACHINE_HIVE, "Software\\KORBOD\\ManagedMachines\\"),
        "");
    f.os.addKey("Software\\KORBOD\\ManagedMachines\\b2");
    f.os.addKey("Software\\KORBOD\\ManagedMachines\\a1");
    EXPECT_EQ(
        EnumRegistryKeys(f.ctx, HKEY_LOCAL_MACHINE_HIVE, "Software\\KORBOD\\ManagedMachines\\"),
        "a1,b2");
}

}  // namespace
}  // namespace quillet
