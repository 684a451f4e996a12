// The two settings are read as 4 raw bytes whatever their registry type; the About box's texts come
// from the configuration database in the working folder that the registry names.
#include "rtdb/data_access.h"
#include "rtdb/rt_library.h"
#include "tests/support/temp_directory.h"
#include "rtdb/standin/config_database.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

constexpr const char* kKey = "Software\\Korvex\\Scada\\Settings";
constexpr const char* kOnlyTransfer = "OPC Server Only Show Tranfer Tag";
constexpr const char* kWriteable = "OPC Server Writeable";

class SettingsRead : public ::testing::Test {
protected:
    void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
    void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }

    static void Put(const char* name, DWORD type, const void* data, DWORD size) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
        RegCloseKey(key);
    }
};

TEST_F(SettingsRead, AbsentKeyLeavesBothOff) {
    const rtdb::Settings s = rtdb::Settings::Read();
    EXPECT_FALSE(s.onlyShowTransferTag);
    EXPECT_FALSE(s.writeable);
}

TEST_F(SettingsRead, RawBytesWhateverTheType) {
    const struct {
        const char* name;
        DWORD type;
        const char* data;
        DWORD size;
        bool on;
    } cases[] = {
        {"DWORD 1", REG_DWORD, "\x01\x00\x00\x00", 4, true},
        {"DWORD 0", REG_DWORD, "\x00\x00\x00\x00", 4, false},
        {"text \"1\" with terminator", REG_SZ, "1", 2, true},
        {"empty text", REG_SZ, "", 1, false},
        {"one byte", REG_BINARY, "\x02", 1, true},
        {"five bytes", REG_BINARY, "\x01\x01\x01\x01\x01", 5, false},
        {"text \"yes\"", REG_SZ, "yes", 4, true},
    };
    for (const auto& c : cases) {
        Put(kWriteable, c.type, c.data, c.size);
        Put(kOnlyTransfer, c.type, c.data, c.size);
        const rtdb::Settings s = rtdb::Settings::Read();
        EXPECT_EQ(s.writeable, c.on) << c.name;
        EXPECT_EQ(s.onlyShowTransferTag, c.on) << c.name;
    }
}

TEST_F(SettingsRead, EachValueIsItsOwn) {
    const DWORD one = 1;
    Put(kWriteable, REG_DWORD, &one, sizeof one);
    const rtdb::Settings s = rtdb::Settings::Read();
    EXPECT_TRUE(s.writeable);
    EXPECT_FALSE(s.onlyShowTransferTag);
}

void SetWorking(const std::string& folder) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SoftWare\\KorvexSettings", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Working", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                   static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
}

TEST(SystemInfo, FromTheConfigurationDatabaseOfTheWorkingFolder) {
    const korvex::test::TempDirectory working("sysinfo"), elsewhere("nosysinfo");
    ASSERT_TRUE(CreateDirectoryA((working.path() + "\\Out").c_str(), nullptr));
    const std::string database = working.path() + "\\Out\\scada.dat";
    ASSERT_TRUE(configdb::writeConfigDatabase(
        database, configdb::makeSystemInfoRecord({"Korvex SCADA 3.0", "(C) Korvex", "Korvex Ltd.", "www.scada.example"})));
    const struct {
        const char* name;
        std::function<void()> arrange;
        bool loaded;
    } cases[] = {
        {"the working folder", [&] { SetWorking(working.path()); }, true},
        {"\"Working\" names a folder without the database", [&] { SetWorking(elsewhere.path()); }, false},
        {"\"Working\" missing", [] { RegDeleteKeyValueA(HKEY_CURRENT_USER, "SoftWare\\KorvexSettings", "Working"); }, false},
        {"the database file missing", [&] {
             SetWorking(working.path());
             DeleteFileA(database.c_str());
         }, false},
    };
    for (const auto& c : cases) {
        c.arrange();
        rtdb::SystemInfo info;
        info.fill(std::byte{0x5A});
        EXPECT_EQ(rtdb::LoadSystemInfo(info), c.loaded) << c.name;
        if (c.loaded) {
            EXPECT_EQ(rtdb::SystemInfoText(info, rt::sysinfo::kProductLabel), "Korvex SCADA 3.0");
            EXPECT_EQ(rtdb::SystemInfoText(info, rt::sysinfo::kRightsNotice), "(C) Korvex");
            EXPECT_EQ(rtdb::SystemInfoText(info, rt::sysinfo::kCompanyName), "Korvex Ltd.");
            EXPECT_EQ(rtdb::SystemInfoText(info, rt::sysinfo::kWebAddress), "www.scada.example");
        }
    }
    RegDeleteKeyValueA(HKEY_CURRENT_USER, "SoftWare\\KorvexSettings", "Working");
}

}  // namespace
