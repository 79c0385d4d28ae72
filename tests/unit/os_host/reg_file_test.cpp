#include "os/host/reg_file.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace quillet::os::host {
namespace {

using namespace std::string_literals;

// "type:bytes" of a value as the ANSI query returns it, or "none".
std::string typed(const RegistryFile& reg, const std::string& key, const std::string& name) {
    const auto v = reg.query(key, name);
    return v ? std::to_string(v->type) + ":" + std::string(v->data.begin(), v->data.end()) : "none";
}

// Files written by Wine's `reg export` (the 32-bit view, the same key through
// Wow6432Node, and the first put through iconv to UTF-8, BOM and all): their
// layout. The value forms a run reads are the startup and device list
// scenarios' registry values.
TEST(RegistryFileWineExports, EveryExportReadsAsTheSameTree) {
    std::string longData;
    for (int i = 0; i < 0x30; ++i) longData += static_cast<char>(i);
    const std::string values[][2] = {
        {"", "1:default text\0"s},
        {"Big", "11:\x08\x07\x06\x05\x04\x03\x02\x01"s},
        {"LONG", "3:" + longData},
        {"Names", "7:x\0y\0\0"s},
        {"NoneVal", "0:\0\0"s},
        {"Quote", "1:say \"hi\" \\\\ there\0"s},
        {"Unicode", "1:Gr\303\274\303\237e \xe2\x82\xac\0"s},
        {"UniExpand", "2:%TEMP%\\Gr\303\274\303\237e\0"s},
    };
    for (const char* file : {"wine_export_32bit_view.reg", "wine_export_wow6432node.reg",
                             "wine_export_32bit_view_utf8.reg"}) {
        SCOPED_TRACE(file);
        std::ostringstream warnings;
        const auto reg = RegistryFile::load(QUILLET_TEST_DATA "/reg/"s + file, warnings);
        EXPECT_EQ(warnings.str(), "");
        for (const auto& v : values)
            EXPECT_EQ(typed(reg, "Software\\KORBOD\\", v[0]), v[1]) << v[0];
        EXPECT_EQ(reg.subkeys("Software"), std::vector<std::string>{"KORBOD"});
        EXPECT_EQ(reg.subkeys("Software\\KORBOD\\"),
                  (std::vector<std::string>{"ManagedMachines", "ManagedpOSIX"}));
        EXPECT_EQ(reg.subkeys("Software\\KORBOD\\ManagedMachines\\"),
                  (std::vector<std::string>{"a_b", "pc0", "PC1", "Zeta"}));
        EXPECT_EQ(typed(reg, "Software\\KORBOD\\ManagedMachines\\PC1", "NAME"), "1:PC1\0"s);
        EXPECT_EQ(typed(reg, "Software\\KORBOD\\ManagedpOSIX\\HV1", "Port"), "4:\xbb\x01\0\0"s);
    }
}

}  // namespace
}  // namespace quillet::os::host
