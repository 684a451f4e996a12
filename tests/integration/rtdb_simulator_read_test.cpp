// The server's data side against the runtime simulator in its own process, set up as the server sets
// itself up: the data access with our window, the database attached, the address space built. Then
// every point of the sample plant is read and compared with the plant file, live values are changed
// through the simulator's control channel, and the runtime's window goes away.
#include "addrspace/address_space.h"
#include "rtdb/data_access.h"
#include "rtdb/rt_library.h"
#include "tests/support/simulator_control.h"
#include "tests/support/simulator_launch.h"
#include "tests/support/temp_directory.h"

#include <gtest/gtest.h>
#include <oleauto.h>
#include <toml++/toml.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using korvex::test::ChildProcess;
using korvex::test::SimulatorControl;
using korvex::test::TempDirectory;

// What the database holds for a UTF-8 text of the plant file: its form in the ANSI code page.
std::string Ansi(const std::string& utf8) {
    const int wideLength = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), wideLength);
    const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, text.data(), length, nullptr, nullptr);
    return text;
}

// A point as the plant file configures it, in database order.
struct PlantPoint {
    std::string station;  // UTF-8, as the control channel takes it
    std::string name;
    int kind;
    double value;       // analog points
    std::int64_t state; // switch points
    std::string itemId; // in the ANSI code page, as the server builds it
};

struct Plant {
    std::vector<PlantPoint> points;
    std::string system[4];  // product, rights, company, web
};

Plant ReadPlantFile(const std::string& path) {
    const toml::table file = toml::parse_file(path);
    Plant plant;
    const char* systemKeys[] = {"product", "rights", "company", "web"};
    for (int i = 0; i < 4; ++i) plant.system[i] = file["system"][systemKeys[i]].value_or(std::string());
    for (const toml::node& stationNode : *file["station"].as_array()) {
        const toml::table& station = *stationNode.as_table();
        const std::string stationName = station["name"].value_or(std::string());
        if (const toml::array* analogs = station["analog"].as_array()) {
            for (const toml::node& node : *analogs) {
                const toml::table& point = *node.as_table();
                const std::string name = point["name"].value_or(std::string());
                plant.points.push_back({stationName, name, rt::kAnalogKind, point["value"].value_or(0.0), 0,
                                        Ansi(stationName) + ".analog." + Ansi(name)});
            }
        }
        if (const toml::array* switches = station["switch"].as_array()) {
            for (const toml::node& node : *switches) {
                const toml::table& point = *node.as_table();
                const std::string name = point["name"].value_or(std::string());
                const toml::node_view state = point["state"];
                const std::int64_t byte = state.is_boolean() ? (state.value_or(false) ? 1 : 0)
                                                             : state.value_or(std::int64_t{0});
                plant.points.push_back(
                    {stationName, name, rt::kSwitchKind, 0.0, byte, Ansi(stationName) + ".switch." + Ansi(name)});
            }
        }
    }
    return plant;
}

struct Reading {
    bool ok = false;
    VARIANT value{};
    WORD quality = 0;
    FILETIME timestamp{};
    FILETIME before{}, after{};  // the time window of the read

    bool Untouched() const {
        return value.vt == VT_I4 && value.lVal == 777 && quality == 0x1234 && timestamp.dwLowDateTime == 1 &&
               timestamp.dwHighDateTime == 2;
    }
    bool StampedWithinTheRead() const {
        return CompareFileTime(&before, &timestamp) <= 0 && CompareFileTime(&timestamp, &after) <= 0;
    }
};

class SimulatorRead : public ::testing::Test {
protected:
    void SetUp() override {
        workdir_ = std::make_unique<TempDirectory>("rtdbread");
        simulator_ = std::make_unique<ChildProcess>(korvex::test::startSimulator(
            {"--plant=" + korvex::test::samplePlant(), "--workdir=" + workdir_->path(), "--frozen", "--registry"}));
        ASSERT_TRUE(simulator_->waitForLine("ready")) << simulator_->output();
        control_ = std::make_unique<SimulatorControl>();

        // As the server starts: its hidden main window, the settings, the mailbox, the database,
        // the address space.
        window_ = CreateWindowExA(0, "STATIC", "server", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr);
        access_ = std::make_unique<rtdb::CDataAccessEx>(window_, rtdb::Settings::Read());
        ASSERT_TRUE(access_->IsScadaRunning());
        ASSERT_TRUE(access_->AttachDatabase());
        space_ = std::make_unique<COPCAddressSpaceMgt>();
        ASSERT_TRUE(space_->BuildAddressSpace(*access_));
    }

    void TearDown() override {
        // Unmapped before the simulator ends, so that the next one creates its memory afresh.
        space_.reset();
        access_.reset();
        if (window_) DestroyWindow(window_);
        if (control_) {
            EXPECT_NO_THROW(control_->quit());
            EXPECT_EQ(simulator_->waitForExit(), std::optional<DWORD>(0)) << simulator_->output();
        }
        control_.reset();
        simulator_.reset();
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Korvex");
        RegDeleteTreeA(HKEY_CURRENT_USER, "SoftWare\\KorvexSettings");
    }

    // The point number of an item ID, the way a client's read finds it.
    DWORD PointOf(const std::string& itemId) const {
        const DWORD node = space_->ResolveItemId(itemId);
        const COPCItem* point = node ? space_->FindPointByNodeId(space_->GetNodeId(node)) : nullptr;
        return point ? point->serverHandle() : 0;
    }

    Reading Read(DWORD point) const {
        Reading r;
        VariantInit(&r.value);
        r.value.vt = VT_I4;
        r.value.lVal = 777;
        r.quality = 0x1234;
        r.timestamp = {1, 2};
        CoFileTimeNow(&r.before);
        r.ok = space_->ReadPointValue(point, &r.value, &r.quality, &r.timestamp);
        CoFileTimeNow(&r.after);
        return r;
    }

    std::unique_ptr<TempDirectory> workdir_;
    std::unique_ptr<ChildProcess> simulator_;
    std::unique_ptr<SimulatorControl> control_;
    HWND window_ = nullptr;
    std::unique_ptr<rtdb::CDataAccessEx> access_;
    std::unique_ptr<COPCAddressSpaceMgt> space_;
};

TEST_F(SimulatorRead, EveryPointReadsItsInitialValueGoodAndStampedWithTheTimeOfTheRead) {
    const Plant plant = ReadPlantFile(korvex::test::samplePlant());
    ASSERT_EQ(space_->GetPointCount(), plant.points.size());
    EXPECT_TRUE(std::any_of(plant.points.begin(), plant.points.end(), [](const PlantPoint& p) { return p.state == 2; }))
        << "the sample plant keeps a switch whose state byte is 2";
    for (std::size_t k = 0; k < plant.points.size(); ++k) {
        const PlantPoint& expected = plant.points[k];
        const DWORD point = PointOf(expected.itemId);
        EXPECT_EQ(point, k + 1) << expected.itemId << ": points are numbered in database order";
        const Reading r = Read(point);
        ASSERT_TRUE(r.ok) << expected.itemId;
        EXPECT_EQ(r.quality, 0xC0) << expected.itemId;
        EXPECT_TRUE(r.StampedWithinTheRead()) << expected.itemId;
        if (expected.kind == rt::kAnalogKind) {
            EXPECT_EQ(r.value.vt, VT_R4) << expected.itemId;
            EXPECT_EQ(r.value.fltVal, static_cast<float>(expected.value)) << expected.itemId;
        } else {
            EXPECT_EQ(r.value.vt, VT_BOOL) << expected.itemId;
            EXPECT_EQ(r.value.boolVal, expected.state != 0 ? VARIANT_TRUE : VARIANT_FALSE)
                << expected.itemId << ", state byte " << expected.state;
        }
    }
}

TEST_F(SimulatorRead, LiveValuesSetThroughTheRuntime) {
    const DWORD setpoint = PointOf("NorthSubstation.analog.Setpoint");
    const DWORD breaker = PointOf("NorthSubstation.switch.Breaker2");
    ASSERT_NE(setpoint, 0u);
    ASSERT_NE(breaker, 0u);
    const float infinity = std::numeric_limits<float>::infinity();
    const struct {
        const char* name;
        std::function<void(SimulatorControl&)> set;
        DWORD point;
        VARTYPE type;
        float analog;  // NaN: expect NaN
        VARIANT_BOOL state;
    } cases[] = {
        {"1e300 overflows to +inf", [](SimulatorControl& c) { c.setAnalog("NorthSubstation", "Setpoint", 1e300); },
         setpoint, VT_R4, infinity, 0},
        {"-1e300 overflows to -inf", [](SimulatorControl& c) { c.setAnalog("NorthSubstation", "Setpoint", -1e300); },
         setpoint, VT_R4, -infinity, 0},
        {"1e-300 underflows to 0", [](SimulatorControl& c) { c.setAnalog("NorthSubstation", "Setpoint", 1e-300); },
         setpoint, VT_R4, 0.0f, 0},
        {"NaN stays NaN", [](SimulatorControl& c) { c.ok("set NorthSubstation analog Setpoint nan"); }, setpoint,
         VT_R4, std::numeric_limits<float>::quiet_NaN(), 0},
        {"an ordinary value", [](SimulatorControl& c) { c.setAnalog("NorthSubstation", "Setpoint", 61.25); },
         setpoint, VT_R4, 61.25f, 0},
        {"state byte 2 is on", [](SimulatorControl& c) { c.setSwitch("NorthSubstation", "Breaker2", 2); }, breaker,
         VT_BOOL, 0, VARIANT_TRUE},
        {"state byte 0 is off", [](SimulatorControl& c) { c.setSwitch("NorthSubstation", "Breaker2", 0); }, breaker,
         VT_BOOL, 0, VARIANT_FALSE},
        {"state byte 255 is on", [](SimulatorControl& c) { c.setSwitch("NorthSubstation", "Breaker2", 255); },
         breaker, VT_BOOL, 0, VARIANT_TRUE},
    };
    for (const auto& c : cases) {
        c.set(*control_);
        const Reading r = Read(c.point);
        ASSERT_TRUE(r.ok) << c.name;
        EXPECT_EQ(r.quality, 0xC0) << c.name;
        EXPECT_EQ(r.value.vt, c.type) << c.name;
        if (c.type == VT_BOOL) {
            EXPECT_EQ(r.value.boolVal, c.state) << c.name;
        } else if (std::isnan(c.analog)) {
            EXPECT_TRUE(std::isnan(r.value.fltVal)) << c.name << ": got " << r.value.fltVal;
        } else {
            EXPECT_EQ(r.value.fltVal, c.analog) << c.name;
        }
    }
}

TEST_F(SimulatorRead, MailboxShowsOurWindowUntilItIsReleased) {
    const auto low = static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(window_));
    EXPECT_EQ(control_->serverWindow(), static_cast<std::uint64_t>(static_cast<std::int64_t>(low)));
    access_->ReleaseServerWindow();
    EXPECT_EQ(control_->serverWindow(), 0u);
}

TEST_F(SimulatorRead, AfterTheRuntimeWindowClosesEveryReadFailsUntouched) {
    ASSERT_TRUE(Read(1).ok);
    control_->closeWindow();
    // Readers ask the system about the window at most every few tens of milliseconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (Read(1).ok && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    control_->setAnalog("NorthSubstation", "Setpoint", 12.0);  // the database lives on, unread
    for (DWORD point = 1; point <= space_->GetPointCount(); ++point) {
        const Reading r = Read(point);
        EXPECT_FALSE(r.ok) << "point " << point;
        EXPECT_TRUE(r.Untouched()) << "point " << point;
    }
}

TEST_F(SimulatorRead, SystemInfoFromTheConfigurationDatabase) {
    const Plant plant = ReadPlantFile(korvex::test::samplePlant());
    const TempDirectory elsewhere("rtdbnocfg");
    const std::string database = workdir_->path() + "\\Out\\scada.dat";
    auto setWorking = [](const std::string& folder) {
        HKEY key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SoftWare\\KorvexSettings", 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, "Working", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>(folder.size() + 1));
        RegCloseKey(key);
    };
    const struct {
        const char* name;
        std::function<void()> arrange;
        bool loaded;
    } cases[] = {
        {"as the simulator left it", [] {}, true},
        {"\"Working\" names a folder without the database", [&] { setWorking(elsewhere.path()); }, false},
        {"\"Working\" missing",
         [] { RegDeleteKeyValueA(HKEY_CURRENT_USER, "SoftWare\\KorvexSettings", "Working"); }, false},
        {"back to the working folder", [&] { setWorking(workdir_->path()); }, true},
        {"database file missing", [&] { DeleteFileA(database.c_str()); }, false},
    };
    for (const auto& c : cases) {
        c.arrange();
        rtdb::SystemInfo info;
        info.fill(std::byte{0x5A});
        EXPECT_EQ(rtdb::LoadSystemInfo(info), c.loaded) << c.name;
        if (!c.loaded) continue;
        const std::size_t offsets[] = {rt::sysinfo::kProductLabel, rt::sysinfo::kRightsNotice,
                                       rt::sysinfo::kCompanyName, rt::sysinfo::kWebAddress};
        for (int i = 0; i < 4; ++i) {
            EXPECT_FALSE(plant.system[i].empty()) << "the sample plant names all four texts";
            EXPECT_EQ(rtdb::SystemInfoText(info, offsets[i]), Ansi(plant.system[i])) << c.name << ", text " << i;
        }
    }
}

}  // namespace
