// dbGetSysInfo over the configuration database file that the simulator writes: the About box
// texts come back at their offsets, and every wrong argument or damaged file is a nonzero result
// that leaves the caller's buffer alone.
#include "rtdb/rt_library.h"
#include "rtdb/standin/config_database.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using configdb::SysInfoResult;

class DbGetSysInfo : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        directory_ = std::string(temp) + "korvex-sysinfo-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(directory_.c_str(), nullptr);
        path_ = directory_ + "\\scada.dat";
        const configdb::SystemTexts texts{"Korvex SCADA 3.0", "Copyright (C) Korvex", "Korvex Automation",
                                          "www.korvex.example"};
        ASSERT_TRUE(configdb::writeConfigDatabase(path_, configdb::makeSystemInfoRecord(texts)));
    }
    void TearDown() override {
        DeleteFileA(path_.c_str());
        RemoveDirectoryA(directory_.c_str());
    }

    std::vector<char> fileBytes() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void rewrite(const std::vector<char>& bytes) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    std::string directory_, path_;
};

int call(const char* path, void* buffer, const char* name = rt::sysinfo::kAccessName,
         const char* key = rt::sysinfo::kAccessKey, int flags = rt::sysinfo::kFlags,
         int size = rt::sysinfo::kRecordSize) {
    return dbGetSysInfo(path, name, key, flags, buffer, size);
}

TEST_F(DbGetSysInfo, FillsTheRecordWithTheFourTexts) {
    std::vector<char> buffer(rt::sysinfo::kRecordSize, 'x');
    ASSERT_EQ(call(path_.c_str(), buffer.data()), 0);
    EXPECT_STREQ(buffer.data() + rt::sysinfo::kProductLabel, "Korvex SCADA 3.0");
    EXPECT_STREQ(buffer.data() + rt::sysinfo::kRightsNotice, "Copyright (C) Korvex");
    EXPECT_STREQ(buffer.data() + rt::sysinfo::kCompanyName, "Korvex Automation");
    EXPECT_STREQ(buffer.data() + rt::sysinfo::kWebAddress, "www.korvex.example");
    EXPECT_EQ(buffer.back(), '\0') << "the rest of the record is zero";
}

TEST_F(DbGetSysInfo, WrongArgumentsFailWithoutTouchingTheBuffer) {
    const std::string missing = directory_ + "\\missing.dat";
    struct Case {
        const char* name;
        std::function<int(void*)> run;
        SysInfoResult expected;
    };
    const char* path = path_.c_str();
    const Case cases[] = {
        {"null path", [](void* b) { return call(nullptr, b); }, SysInfoResult::BadArgument},
        {"null buffer", [&](void*) { return call(path, nullptr); }, SysInfoResult::BadArgument},
        {"wrong access name", [&](void* b) { return call(path, b, "KVX4"); }, SysInfoResult::AccessDenied},
        {"access name in lower case", [&](void* b) { return call(path, b, "kvx3"); }, SysInfoResult::AccessDenied},
        {"wrong access key", [&](void* b) { return call(path, b, rt::sysinfo::kAccessName, "SYSINF"); },
         SysInfoResult::AccessDenied},
        {"null access name", [&](void* b) { return call(path, b, nullptr); }, SysInfoResult::AccessDenied},
        {"null access key", [&](void* b) { return call(path, b, rt::sysinfo::kAccessName, nullptr); },
         SysInfoResult::AccessDenied},
        {"flags 0x30001",
         [&](void* b) { return call(path, b, rt::sysinfo::kAccessName, rt::sysinfo::kAccessKey, 0x30001); },
         SysInfoResult::BadFlags},
        {"flags 0", [&](void* b) { return call(path, b, rt::sysinfo::kAccessName, rt::sysinfo::kAccessKey, 0); },
         SysInfoResult::BadFlags},
        {"size 831",
         [&](void* b) { return call(path, b, rt::sysinfo::kAccessName, rt::sysinfo::kAccessKey, 0x30000, 831); },
         SysInfoResult::BadBufferSize},
        {"size 833",
         [&](void* b) { return call(path, b, rt::sysinfo::kAccessName, rt::sysinfo::kAccessKey, 0x30000, 833); },
         SysInfoResult::BadBufferSize},
        {"missing file", [&](void* b) { return call(missing.c_str(), b); }, SysInfoResult::CannotOpen},
        {"directory instead of file", [&](void* b) { return call(directory_.c_str(), b); },
         SysInfoResult::CannotOpen},
    };
    for (const Case& c : cases) {
        std::vector<char> buffer(rt::sysinfo::kRecordSize, 'x');
        const int result = c.run(buffer.data());
        EXPECT_EQ(result, static_cast<int>(c.expected)) << c.name << ": got " << result;
        EXPECT_EQ(buffer, std::vector<char>(rt::sysinfo::kRecordSize, 'x')) << c.name;
    }
}

TEST_F(DbGetSysInfo, DamagedFilesFailWithoutTouchingTheBuffer) {
    const std::vector<char> good = fileBytes();
    ASSERT_EQ(good.size(), configdb::kHeaderSize + configdb::kRecordSize);
    struct Case {
        const char* name;
        std::function<void(std::vector<char>&)> damage;
        SysInfoResult expected;
    };
    const Case cases[] = {
        {"empty file", [](auto& f) { f.clear(); }, SysInfoResult::NotAConfigDatabase},
        {"bad magic", [](auto& f) { f[0] = 'Q'; }, SysInfoResult::NotAConfigDatabase},
        {"version 2", [](auto& f) { f[8] = 2; }, SysInfoResult::UnsupportedVersion},
        {"record size 831 in the header", [](auto& f) { f[12] = static_cast<char>(831 & 0xFF); },
         SysInfoResult::BadLength},
        {"truncated record", [](auto& f) { f.pop_back(); }, SysInfoResult::BadLength},
        {"trailing byte", [](auto& f) { f.push_back(0); }, SysInfoResult::BadLength},
    };
    for (const Case& c : cases) {
        std::vector<char> bytes = good;
        c.damage(bytes);
        rewrite(bytes);
        std::vector<char> buffer(rt::sysinfo::kRecordSize, 'x');
        const int result = call(path_.c_str(), buffer.data());
        EXPECT_EQ(result, static_cast<int>(c.expected)) << c.name << ": got " << result;
        EXPECT_EQ(buffer, std::vector<char>(rt::sysinfo::kRecordSize, 'x')) << c.name;
    }
}

TEST(SystemInfoRecord, TextsMustFitTheirSixtyFourByteFields) {
    EXPECT_NO_THROW(configdb::makeSystemInfoRecord({std::string(63, 'p'), "", "", ""}));
    EXPECT_THROW(configdb::makeSystemInfoRecord({std::string(64, 'p'), "", "", ""}), std::invalid_argument);
    EXPECT_THROW(configdb::makeSystemInfoRecord({"", "", "", std::string(64, 'w')}), std::invalid_argument);
}

}  // namespace
