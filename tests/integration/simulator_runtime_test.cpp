// The runtime simulator seen from outside, as the server sees it: the mailbox and the database in
// named shared memory, walked through the library stand-in; the main window that applies
// WM_COPYDATA writes; and the control channel that tests steer it with.
#include "rtdb/rt_library.h"
#include "tests/support/simulator_control.h"
#include "tests/support/simulator_launch.h"
#include "tests/support/temp_directory.h"
#include "rtdb/standin/rt_image.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using korvex::test::RecordedRuntimeMessage;
using korvex::test::SimulatorControl;
using korvex::test::ChildProcess;
using korvex::test::samplePlant;
using korvex::test::startSimulator;
using korvex::test::TempDirectory;
using namespace std::chrono_literals;

constexpr const char* kWindowClass = "KorvexScadaRuntime";

// The sample plant as plant/sample-plant.toml configures it. Names are UTF-8.
struct ExpectedAnalog {
    const char* name;
    const char* description;
    double high, low;
    bool writable;
    double value;
};
struct ExpectedSwitch {
    const char* name;
    const char* description;
    bool writable;
    int state;
};
struct ExpectedStation {
    const char* name;
    bool transfer;
    std::vector<ExpectedAnalog> analogs;
    std::vector<ExpectedSwitch> switches;
};

const std::vector<ExpectedStation> kSamplePlant = {
    {"NorthSubstation",
     true,
     {{"BusbarVoltage", "10 kV busbar voltage, kV", 11.5, 9.5, false, 10.5},
      {"FeederCurrent", "Feeder 1 current, A", 600.0, 0.0, false, 320.0},
      {"Setpoint", "Voltage regulator setpoint, percent", 100.0, 0.0, true, 50.0}},
     {{"Breaker1", "Feeder 1 circuit breaker", true, 1},
      {"Breaker2", "Feeder 2 circuit breaker", false, 0},
      {"ProtectionTrip", "Protection relay trip signal", false, 2}}},
    {"PumpStation",
     false,
     {{"TankLevel", "Suction tank level, m; measured by the ultrasonic sensor on the north wall of the tank", 10.0,
       0.0, false, 2.0},
      {"PumpSpeed", "Pump 1 speed setpoint, rpm", 0.0, 0.0, true, 1450.0},
      {"Flow Rate", "Discharge flow, m3/h", 250.0, 0.0, false, 120.0},
      {"\xE5\x87\xBA\xE6\xB0\xB4\xE6\xB8\xA9\xE5\xBA\xA6", "Outlet water temperature, C", 40.0, 0.0, false, 18.5},
      {"DischargeHeaderPressureSensorA1", "Discharge header pressure, bar", 16.0, 0.0, false, 6.25}},
     {{"Pump1Running", "Pump 1 running", true, 1}, {"Pump2Running", "Pump 2 running", true, 0}}},
    {"WeatherMast",
     true,
     {{"AirTemperature", "Air temperature, C", 60.0, -40.0, false, 15.0},
      {"WindSpeed", "Wind speed, m/s", 60.0, 0.0, false, 4.5},
      {"Humidity", "Relative humidity, percent", 50.0, 50.0, false, 63.0}},
     {}},
    {"Reservoir",
     false,
     {},
     {{"GateOpen", "Spillway gate open", true, 0}, {"OverflowAlarm", "Overflow alarm", false, 0}}},
};

// What the database holds for a UTF-8 name: its form in the ANSI code page.
std::string ansi(const char* utf8) {
    wchar_t wide[256];
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 256);
    char bytes[512];
    WideCharToMultiByte(CP_ACP, 0, wide, n, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

std::string text(const void* at) { return static_cast<const char*>(at); }

// The server's view of the runtime: the mailbox and the database, mapped as the server maps them.
class RuntimeMemory {
public:
    RuntimeMemory() {
        mailboxMapping_ = OpenFileMappingA(FILE_MAP_WRITE, TRUE, rt::mailbox::kName);
        if (!mailboxMapping_) return;
        mailbox_ = static_cast<std::byte*>(
            MapViewOfFile(mailboxMapping_, FILE_MAP_ALL_ACCESS, 0, 0, rt::mailbox::kMappedSize));
        if (!mailbox_) return;
        std::memcpy(systemBlock_.data(), mailbox_ + rt::mailbox::kSystemBlock, systemBlock_.size());
        databaseSize_ = rtimage::readU32(descriptor());
        databaseMapping_ = OpenFileMappingA(FILE_MAP_WRITE, TRUE, rt::kDatabaseName);
        if (!databaseMapping_) return;
        database_ =
            static_cast<std::byte*>(MapViewOfFile(databaseMapping_, FILE_MAP_ALL_ACCESS, 0, 0, databaseSize_));
    }
    ~RuntimeMemory() {
        if (database_) UnmapViewOfFile(database_);
        if (databaseMapping_) CloseHandle(databaseMapping_);
        if (mailbox_) UnmapViewOfFile(mailbox_);
        if (mailboxMapping_) CloseHandle(mailboxMapping_);
    }
    RuntimeMemory(const RuntimeMemory&) = delete;
    RuntimeMemory& operator=(const RuntimeMemory&) = delete;

    bool mapped() const { return mailbox_ && database_; }
    std::byte* mailbox() const { return mailbox_; }
    std::byte* database() const { return database_; }
    std::size_t databaseSize() const { return databaseSize_; }
    std::byte* descriptor() { return systemBlock_.data() + rt::mailbox::kMemoryDescriptor; }
    std::uint64_t scadaWindow() const {
        std::uint64_t value;
        std::memcpy(&value, mailbox_ + rt::mailbox::kScadaWindow, sizeof value);
        return value;
    }

private:
    HANDLE mailboxMapping_ = nullptr;
    HANDLE databaseMapping_ = nullptr;
    std::byte* mailbox_ = nullptr;
    std::byte* database_ = nullptr;
    std::size_t databaseSize_ = 0;
    std::array<std::byte, rt::mailbox::kSystemBlockSize> systemBlock_{};
};

// Records found by walking the database through the library, as the server's build does.
struct WalkedStation {
    std::byte* record;
    std::vector<std::byte*> analogs;
    std::vector<std::byte*> switches;
};

std::vector<WalkedStation> walkDatabase() {
    std::vector<WalkedStation> stations;
    const RtHandle table = RtOpenStationDb();
    const int count = RtGetStationDataCount(table);
    for (int s = 0; s < count; ++s) {
        auto* station = static_cast<std::byte*>(RtGetStationDataByIndex(table, s));
        WalkedStation walked{station, {}, {}};
        const RtHandle analogs = RtOpenAnalogDb(station);
        for (int i = 0; i < RtGetAnalogDataCount(analogs); ++i)
            walked.analogs.push_back(static_cast<std::byte*>(RtGetAnalogDataByIndex(analogs, station, i)));
        RtCloseDb(analogs);
        const RtHandle switches = RtOpenStatusDb(station);
        for (int i = 0; i < RtGetStatusDataCount(switches); ++i)
            walked.switches.push_back(static_cast<std::byte*>(RtGetStatusDataByIndex(switches, station, i)));
        RtCloseDb(switches);
        stations.push_back(std::move(walked));
    }
    RtCloseDb(table);
    return stations;
}

// Reads a live double as the server does: until two consecutive reads agree.
double readLive(const std::byte* at) {
    double previous = rtimage::readDouble(at);
    for (;;) {
        const double current = rtimage::readDouble(at);
        if (std::memcmp(&current, &previous, sizeof current) == 0) return current;
        previous = current;
    }
}

class SimulatorRuntime : public ::testing::Test {
protected:
    void SetUp() override {
        workdir_ = std::make_unique<TempDirectory>("simrt");
        process_ = std::make_unique<ChildProcess>(startSimulator(
            {"--plant=" + samplePlant(), "--workdir=" + workdir_->path(), "--period-ms=50", "--frozen"}));
        ASSERT_TRUE(process_->waitForLine("ready")) << process_->output();
        control_ = std::make_unique<SimulatorControl>();
        memory_ = std::make_unique<RuntimeMemory>();
        ASSERT_TRUE(memory_->mapped());
        ASSERT_NE(RtInitMemory(memory_->database(), memory_->descriptor(), 0), 0);
        stations_ = walkDatabase();
        ASSERT_EQ(stations_.size(), kSamplePlant.size());
        window_ = FindWindowA(kWindowClass, nullptr);
        ASSERT_NE(window_, nullptr);
    }

    void TearDown() override {
        memory_.reset();
        if (control_) {
            EXPECT_NO_THROW(control_->quit());
            EXPECT_EQ(process_->waitForExit(), std::optional<DWORD>(0)) << process_->output();
        }
        control_.reset();
        process_.reset();  // kills it if it did not end
    }

    std::byte* analog(std::size_t station, std::size_t index) const {
        return stations_.at(station).analogs.at(index);
    }
    std::byte* switchPoint(std::size_t station, std::size_t index) const {
        return stations_.at(station).switches.at(index);
    }

    std::unique_ptr<TempDirectory> workdir_;
    std::unique_ptr<ChildProcess> process_;
    std::unique_ptr<SimulatorControl> control_;
    std::unique_ptr<RuntimeMemory> memory_;
    std::vector<WalkedStation> stations_;
    HWND window_ = nullptr;
};

TEST_F(SimulatorRuntime, MailboxPublishesTheLiveWindowAndTheDatabaseSize) {
    const std::uint64_t published = memory_->scadaWindow();
    EXPECT_EQ(published >> 32, 0u) << "high half of scadaWindow";
    EXPECT_EQ(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(published)), window_);
    EXPECT_TRUE(IsWindow(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(published))));
    EXPECT_EQ(control_->window(), published);
    EXPECT_EQ(rtimage::readU32(memory_->descriptor()), memory_->databaseSize());
    EXPECT_TRUE(rtimage::ImageView::open(memory_->database(), memory_->databaseSize()));
    std::uint64_t serverWindow;
    std::memcpy(&serverWindow, memory_->mailbox() + rt::mailbox::kServerWindow, sizeof serverWindow);
    EXPECT_EQ(serverWindow, 0u);
}

TEST_F(SimulatorRuntime, EveryPointOfTheSamplePlantReadsItsConfiguredInitialValue) {
    RecordProperty("AnsiCodePage", static_cast<int>(GetACP()));
    for (std::size_t s = 0; s < kSamplePlant.size(); ++s) {
        const ExpectedStation& expected = kSamplePlant[s];
        const WalkedStation& walked = stations_[s];
        SCOPED_TRACE(expected.name);
        EXPECT_EQ(text(walked.record + rt::station::kName), expected.name);
        EXPECT_EQ(std::to_integer<int>(walked.record[rt::station::kNonTransferFlag]), expected.transfer ? 0 : 1);
        ASSERT_EQ(walked.analogs.size(), expected.analogs.size());
        ASSERT_EQ(walked.switches.size(), expected.switches.size());
        for (std::size_t i = 0; i < expected.analogs.size(); ++i) {
            const ExpectedAnalog& a = expected.analogs[i];
            const std::byte* record = walked.analogs[i];
            SCOPED_TRACE(a.name);
            EXPECT_EQ(text(record + rt::analog::kName), ansi(a.name));
            EXPECT_EQ(text(record + rt::analog::kDescription), a.description);
            EXPECT_EQ(rtimage::readDouble(record + rt::analog::kHighLimit), a.high);
            EXPECT_EQ(rtimage::readDouble(record + rt::analog::kLowLimit), a.low);
            EXPECT_EQ(std::to_integer<int>(record[rt::analog::kWritableFlag]), a.writable ? 1 : 0);
            EXPECT_EQ(readLive(record + rt::analog::kValue), a.value);
        }
        for (std::size_t i = 0; i < expected.switches.size(); ++i) {
            const ExpectedSwitch& w = expected.switches[i];
            const std::byte* record = walked.switches[i];
            SCOPED_TRACE(w.name);
            EXPECT_EQ(text(record + rt::status::kName), w.name);
            EXPECT_EQ(text(record + rt::status::kDescription), w.description);
            EXPECT_EQ(std::to_integer<int>(record[rt::status::kWritableFlag]), w.writable ? 1 : 0);
            EXPECT_EQ(std::to_integer<int>(record[rt::status::kState]), w.state);
        }
    }
}

TEST_F(SimulatorRuntime, ControlChannelSetsAndGetsPointValues) {
    control_->setAnalog("NorthSubstation", "Setpoint", 77.25);
    EXPECT_EQ(readLive(analog(0, 2) + rt::analog::kValue), 77.25);
    EXPECT_EQ(control_->analog("NorthSubstation", "Setpoint"), 77.25);

    control_->setAnalog("PumpStation", "Flow Rate", 1e300);  // names with blanks travel quoted
    EXPECT_EQ(readLive(analog(1, 2) + rt::analog::kValue), 1e300);

    control_->setAnalog("PumpStation", "\xE5\x87\xBA\xE6\xB0\xB4\xE6\xB8\xA9\xE5\xBA\xA6", -3.5);
    EXPECT_EQ(readLive(analog(1, 3) + rt::analog::kValue), -3.5);

    control_->setSwitch("Reservoir", "GateOpen", 1);
    EXPECT_EQ(std::to_integer<int>(switchPoint(3, 0)[rt::status::kState]), 1);
    control_->setSwitch("Reservoir", "GateOpen", 2);
    EXPECT_EQ(control_->switchState("Reservoir", "GateOpen"), 2);
    control_->setSwitch("NorthSubstation", "Breaker1", 0);
    EXPECT_EQ(std::to_integer<int>(switchPoint(0, 0)[rt::status::kState]), 0);

    struct Refused {
        const char* command;
    };
    const Refused refused[] = {
        {"set NorthSubstation analog NoSuchPoint 1"},
        {"set NorthSubstation switch Setpoint 1"},  // an analog point, not a switch
        {"set NoSuchStation analog Setpoint 1"},
        {"set NorthSubstation analog Setpoint abc"},
        {"set NorthSubstation switch Breaker1 256"},
        {"set NorthSubstation digital Breaker1 1"},
        {"get NorthSubstation analog"},
        {"set \"PumpStation analog PumpSpeed 1"},
        {"frobnicate"},
    };
    for (const Refused& r : refused) EXPECT_TRUE(control_->command(r.command).starts_with("error ")) << r.command;
    EXPECT_EQ(readLive(analog(0, 2) + rt::analog::kValue), 77.25) << "a refused set changes nothing";
}

TEST_F(SimulatorRuntime, FreezeStopsAllMovementAndThawResumesIt) {
    const std::byte* sine = analog(0, 0) + rt::analog::kValue;  // BusbarVoltage
    const std::byte* ramp = analog(1, 0) + rt::analog::kValue;  // TankLevel
    const std::byte* walk = analog(2, 1) + rt::analog::kValue;  // WindSpeed
    const double frozen[] = {readLive(sine), readLive(ramp), readLive(walk)};
    std::this_thread::sleep_for(1200ms);  // more than one random-walk period, many ticks
    EXPECT_EQ(readLive(sine), frozen[0]);
    EXPECT_EQ(readLive(ramp), frozen[1]);
    EXPECT_EQ(readLive(walk), frozen[2]);

    control_->thaw();
    std::this_thread::sleep_for(1500ms);
    EXPECT_NE(readLive(sine), frozen[0]);
    EXPECT_NE(readLive(ramp), frozen[1]);
    EXPECT_NE(readLive(walk), frozen[2]);
    EXPECT_EQ(readLive(analog(0, 2) + rt::analog::kValue), 50.0) << "a constant point stays";

    control_->freeze();
    const double refrozen = readLive(sine);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(readLive(sine), refrozen);
}

std::vector<std::byte> runtimeMessage(std::size_t size, const std::string& station, const std::string& point,
                                      std::int32_t kind, std::size_t valueOffset, double analogValue,
                                      std::uint8_t switchState) {
    std::vector<std::byte> payload(size);
    std::memcpy(payload.data(), station.data(), std::min<std::size_t>(station.size(), 31));
    std::memcpy(payload.data() + 32, point.data(), std::min<std::size_t>(point.size(), 31));
    if (size >= 68) std::memcpy(payload.data() + 64, &kind, sizeof kind);
    if (valueOffset + 8 <= size) {
        if (kind == rt::kSwitchKind)
            payload[valueOffset] = std::byte{switchState};
        else
            std::memcpy(payload.data() + valueOffset, &analogValue, sizeof analogValue);
    }
    if (size == rt::message::kControlSize) {
        const std::int32_t thousand = 1000;
        std::memcpy(payload.data() + 144, &thousand, sizeof thousand);
    }
    return payload;
}

TEST_F(SimulatorRuntime, CopyDataMessagesChangeTheRecordsAndAreRecordedByteForByte) {
    const std::string chinese = ansi("\xE5\x87\xBA\xE6\xB0\xB4\xE6\xB8\xA9\xE5\xBA\xA6");
    struct Case {
        const char* name;
        std::uint32_t code;
        std::vector<std::byte> payload;
        bool applied;
        const std::byte* value = nullptr;  // analog value field the message sets
        double expectedValue = 0.0;
        const std::byte* state = nullptr;  // switch state field the message sets
        int expectedState = 0;
    };
    const std::int32_t A = rt::kAnalogKind, W = rt::kSwitchKind;
    const auto value = [&](std::size_t s, std::size_t i) { return analog(s, i) + rt::analog::kValue; };
    const auto state = [&](std::size_t s, std::size_t i) { return switchPoint(s, i) + rt::status::kState; };
    const Case cases[] = {
        {"set value, analog", 5008, runtimeMessage(76, "PumpStation", "PumpSpeed", A, 68, 1234.5, 0), true,
         value(1, 1), 1234.5},
        {"control, analog beyond its limits", 6112,
         runtimeMessage(152, "NorthSubstation", "Setpoint", A, 132, 150.0, 0), true, value(0, 2), 150.0},
        {"control, switch off", 6112, runtimeMessage(152, "NorthSubstation", "Breaker1", W, 132, 0, 0), true,
         nullptr, 0, state(0, 0), 0},
        {"set value, switch on", 5008, runtimeMessage(76, "PumpStation", "Pump2Running", W, 68, 0, 1), true,
         nullptr, 0, state(1, 1), 1},
        {"31-character name", 5008,
         runtimeMessage(76, "PumpStation", "DischargeHeaderPressureSensorA1", A, 68, 7.5, 0), true, value(1, 4),
         7.5},
        {"ANSI name", 5008, runtimeMessage(76, "PumpStation", chinese, A, 68, 21.0, 0), true, value(1, 3), 21.0},
        {"set value one byte short", 5008, runtimeMessage(75, "PumpStation", "PumpSpeed", A, 68, 1.0, 0), false},
        {"control with the set-value size", 6112, runtimeMessage(76, "PumpStation", "PumpSpeed", A, 68, 2.0, 0),
         false},
        {"unknown code", 5009, runtimeMessage(76, "PumpStation", "PumpSpeed", A, 68, 3.0, 0), false},
        {"unknown point", 5008, runtimeMessage(76, "PumpStation", "NoSuchPoint", A, 68, 4.0, 0), false},
        {"analog name with switch kind", 5008, runtimeMessage(76, "PumpStation", "PumpSpeed", W, 68, 0, 1), false},
        {"unknown kind", 5008, runtimeMessage(76, "PumpStation", "PumpSpeed", 5, 68, 5.0, 0), false},
        {"empty payload", 5008, {}, false},
    };
    for (const Case& c : cases) {
        COPYDATASTRUCT data{c.code, static_cast<DWORD>(c.payload.size()),
                            c.payload.empty() ? nullptr : const_cast<std::byte*>(c.payload.data())};
        const LRESULT result = SendMessageA(window_, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
        EXPECT_EQ(result != 0, c.applied) << c.name;
        if (c.value) {
            EXPECT_EQ(readLive(c.value), c.expectedValue) << c.name;
        }
        if (c.state) {
            EXPECT_EQ(std::to_integer<int>(*c.state), c.expectedState) << c.name;
        }
    }
    EXPECT_EQ(readLive(value(1, 1)), 1234.5) << "ignored messages change nothing";

    const std::vector<RecordedRuntimeMessage> recorded = control_->messages();
    ASSERT_EQ(recorded.size(), std::size(cases));
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        EXPECT_EQ(recorded[i].code, cases[i].code) << cases[i].name;
        EXPECT_EQ(recorded[i].applied, cases[i].applied) << cases[i].name;
        EXPECT_EQ(recorded[i].payload, cases[i].payload) << cases[i].name;
    }
    control_->clearMessages();
    EXPECT_TRUE(control_->messages().empty());
}

TEST_F(SimulatorRuntime, ReportsWhatTheServerWroteIntoTheMailbox) {
    for (std::uint64_t written : {0xFFFFFFFF80001234ull, 0x00000000000A0B0Cull, 0ull}) {
        std::memcpy(memory_->mailbox() + rt::mailbox::kServerWindow, &written, sizeof written);
        EXPECT_EQ(control_->serverWindow(), written) << std::hex << written;
    }
}

TEST_F(SimulatorRuntime, CloseWindowEndsTheWindowButNotTheProcess) {
    control_->closeWindow();
    EXPECT_FALSE(IsWindow(window_));
    EXPECT_EQ(FindWindowA(kWindowClass, nullptr), nullptr);
    EXPECT_EQ(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(memory_->scadaWindow())), window_)
        << "the mailbox keeps the stale handle";
    EXPECT_EQ(control_->ok("status"), "frozen=1 hung=0 window=0 messages=0");
    control_->setAnalog("NorthSubstation", "Setpoint", 12.0);  // the database lives on
    EXPECT_EQ(readLive(analog(0, 2) + rt::analog::kValue), 12.0);
}

TEST_F(SimulatorRuntime, HangMakesTheWindowUnresponsiveUntilResumed) {
    DWORD_PTR result = 0;
    ASSERT_NE(SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result), 0) << "responsive at first";

    control_->hang();
    SetLastError(0);
    EXPECT_EQ(SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, 500, &result), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    bool hung = false;
    for (int i = 0; i < 100 && !hung; ++i) {
        hung = IsHungAppWindow(window_);
        if (!hung) std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(hung) << "IsHungAppWindow within 10 s";
    EXPECT_TRUE(control_->command("hang").starts_with("error ")) << "hung already";

    control_->resume();
    EXPECT_NE(SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result), 0) << "after resume";
    EXPECT_FALSE(IsHungAppWindow(window_));

    control_->hang(0.5);  // a hang with a duration ends by itself
    std::this_thread::sleep_for(1s);
    EXPECT_NE(SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result), 0) << "after a timed hang";
}

}  // namespace
