// The simulator's start-up: plant files it refuses (with the line and the fault), the
// configuration database and registry values it leaves for the server, and the refusal to run
// beside another runtime.
#include "rtdb/rt_library.h"
#include "tests/support/simulator_control.h"
#include "tests/support/simulator_launch.h"
#include "tests/support/temp_directory.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using korvex::test::SimulatorControl;
using korvex::test::ChildProcess;
using korvex::test::samplePlant;
using korvex::test::startSimulator;
using korvex::test::TempDirectory;

constexpr DWORD kExitPlantRefused = 2;
constexpr DWORD kExitStartupFailed = 3;

const char* const kValidStation = R"([[station]]
name = "S1"
  [[station.analog]]
  name = "A1"
)";

TEST(SimulatorPlantFile, MalformedPlantsAreRefusedNamingTheLineAndTheFault) {
    struct Case {
        const char* name;
        std::string content;
        int line;
        const char* fault;
    };
    const Case cases[] = {
        {"unterminated string", "[[station]]\nname = \"S1\n", 2, "string"},
        {"station without name", "[[station]]\ntransfer = true\n", 1, "station has no name"},
        {"point without name", std::string(kValidStation) + "  [[station.switch]]\n  state = true\n", 5,
         "switch point has no name"},
        {"unknown signal kind", std::string(kValidStation) + "  signal = { kind = \"sawtooth\", period = 1.0 }\n",
         5, "unknown signal kind \"sawtooth\""},
        {"sine without period", std::string(kValidStation) + "  signal = { kind = \"sine\", amplitude = 1.0 }\n",
         5, "sine signal has no period"},
        {"zero period", std::string(kValidStation) + "  signal = { kind = \"ramp\", period = 0 }\n", 5,
         "period must be greater than 0"},
        {"misspelt key", std::string(kValidStation) + "  hight_limit = 5.0\n", 5, "unknown key \"hight_limit\""},
        {"text for a number", std::string(kValidStation) + "  value = \"high\"\n", 5, "value must be a number"},
        {"state out of range", "[[station]]\nname = \"S1\"\n[[station.switch]]\nname = \"W\"\nstate = 300\n", 5,
         "state must be"},
        {"name longer than its field",
         "[[station]]\nname = \"S1\"\n\n[[station.analog]]\nname = \"" + std::string(32, 'N') + "\"\n", 5,
         "at most 31 fit"},
        {"point table instead of array", "[[station]]\nname = \"S1\"\n[station.analog]\nname = \"A\"\n", 3,
         "analog must be an array of tables"},
        {"no station", "[system]\nproduct = \"X\"\n", 1, "no [[station]]"},
        {"unknown top-level key", std::string(kValidStation) + "\n[stations]\nname = 1\n", 6,
         "unknown key \"stations\""},
    };
    const TempDirectory dir("simplant");
    for (const Case& c : cases) {
        const std::string plant = dir.file("plant.toml", c.content);
        ChildProcess process = startSimulator({"--plant=" + plant, "--workdir=" + dir.path()});
        const auto code = process.waitForExit();
        const std::string output = process.output();
        EXPECT_EQ(code, std::optional<DWORD>(kExitPlantRefused)) << c.name << "\n" << output;
        EXPECT_NE(output.find("line " + std::to_string(c.line) + ","), std::string::npos)
            << c.name << ": expected line " << c.line << "\n"
            << output;
        EXPECT_NE(output.find(c.fault), std::string::npos) << c.name << "\n" << output;
        EXPECT_EQ(output.find("ready"), std::string::npos) << c.name;
    }

    ChildProcess missing = startSimulator({"--plant=" + dir.path() + "\\absent.toml", "--workdir=" + dir.path()});
    EXPECT_EQ(missing.waitForExit(), std::optional<DWORD>(kExitPlantRefused)) << missing.output();
    EXPECT_NE(missing.output().find("cannot open the plant file"), std::string::npos) << missing.output();
}

// Reads a value as the server does: raw bytes, whatever the type.
std::optional<std::string> registryValue(const char* key, const char* name, DWORD* type = nullptr) {
    HKEY handle;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) return std::nullopt;
    char data[512];
    DWORD size = sizeof data;
    const LSTATUS status = RegQueryValueExA(handle, name, nullptr, type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(handle);
    if (status != ERROR_SUCCESS) return std::nullopt;
    return std::string(data, size);
}

std::string dword(DWORD value) { return std::string(reinterpret_cast<const char*>(&value), sizeof value); }

class SimulatorSettings : public ::testing::Test {
protected:
    // Leaves the prefix's registry as a fresh prefix has it, for the tests that follow.
    void TearDown() override {
        RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\Korvex");
        RegDeleteTreeA(HKEY_CURRENT_USER, "SoftWare\\KorvexSettings");
    }

    void runSimulator(const std::vector<std::string>& args) {
        ChildProcess process = startSimulator(args);
        ASSERT_TRUE(process.waitForLine("ready")) << process.output();
        SimulatorControl control;
        control.quit();
        EXPECT_EQ(process.waitForExit(), std::optional<DWORD>(0)) << process.output();
    }
};

TEST_F(SimulatorSettings, RegistryValuesAreWrittenAsTheServerReadsThem) {
    const TempDirectory dir("simreg");
    const char* settings = "Software\\Korvex\\Scada\\Settings";
    const char* writeable = "OPC Server Writeable";
    const char* onlyTransfer = "OPC Server Only Show Tranfer Tag";
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::optional<std::string> writeable, onlyTransfer;
    };
    const Case cases[] = {
        {"defaults", {"--registry"}, dword(1), dword(0)},
        {"explicit values", {"--writeable=0", "--only-transfer=1"}, dword(0), dword(1)},
        {"absent values", {"--writeable=absent", "--only-transfer=absent"}, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--plant=" + samplePlant(), "--workdir=" + dir.path()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        runSimulator(args);
        DWORD type = 0;
        EXPECT_EQ(registryValue("SoftWare\\KorvexSettings", "Working", &type), dir.path() + '\0') << c.name;
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << c.name;
        EXPECT_EQ(registryValue(settings, writeable, &type), c.writeable) << c.name;
        if (c.writeable) {
            EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << c.name;
        }
        EXPECT_EQ(registryValue(settings, onlyTransfer), c.onlyTransfer) << c.name;
    }
}

TEST_F(SimulatorSettings, ConfigurationDatabaseHoldsThePlantsTexts) {
    const TempDirectory dir("simcfg");
    const std::string workdir = dir.path() + "\\project";  // created by the simulator
    runSimulator({"--plant=" + samplePlant(), "--workdir=" + workdir});
    EXPECT_FALSE(registryValue("SoftWare\\KorvexSettings", "Working")) << "no registry without the option";

    std::vector<char> record(rt::sysinfo::kRecordSize);
    const std::string path = workdir + "\\Out\\scada.dat";
    ASSERT_EQ(dbGetSysInfo(path.c_str(), rt::sysinfo::kAccessName, rt::sysinfo::kAccessKey, rt::sysinfo::kFlags,
                           record.data(), rt::sysinfo::kRecordSize),
              0);
    EXPECT_STREQ(record.data() + rt::sysinfo::kProductLabel, "Korvex SCADA 3.0");
    EXPECT_STREQ(record.data() + rt::sysinfo::kRightsNotice,
                 "Copyright (C) 2024 Korvex Automation. All rights reserved.");
    EXPECT_STREQ(record.data() + rt::sysinfo::kCompanyName, "Korvex Automation Ltd.");
    EXPECT_STREQ(record.data() + rt::sysinfo::kWebAddress, "www.korvex-automation.example");

    // Without a [system] table the fixed English texts are used.
    const std::string plant = dir.file("plant.toml", kValidStation);
    runSimulator({"--plant=" + plant, "--workdir=" + workdir});
    ASSERT_EQ(dbGetSysInfo(path.c_str(), rt::sysinfo::kAccessName, rt::sysinfo::kAccessKey, rt::sysinfo::kFlags,
                           record.data(), rt::sysinfo::kRecordSize),
              0);
    EXPECT_STREQ(record.data() + rt::sysinfo::kProductLabel, "Korvex SCADA");
    EXPECT_STREQ(record.data() + rt::sysinfo::kCompanyName, "Korvex Automation");
}

TEST(SimulatorSignals, ValuesMoveWithinTheirShapeAndSwitchesToggle) {
    const TempDirectory dir("simsig");
    const std::string plant = dir.file("plant.toml", R"([[station]]
name = "S"
  [[station.analog]]
  name = "Walk"
  high_limit = 1.0
  low_limit = 0.0
  value = 0.5
  signal = { kind = "random_walk", period = 0.02, amplitude = 0.4 }
  [[station.analog]]
  name = "Ramp"
  value = 10.0
  signal = { kind = "ramp", period = 0.7, amplitude = 5.0 }
  [[station.switch]]
  name = "Toggle"
  toggle_period = 0.25
)");
    ChildProcess process = startSimulator({"--plant=" + plant, "--workdir=" + dir.path(), "--period-ms=20"});
    ASSERT_TRUE(process.waitForLine("ready")) << process.output();
    SimulatorControl control;
    std::set<double> walks, ramps;
    std::set<int> states;
    for (int i = 0; i < 40; ++i) {
        walks.insert(control.analog("S", "Walk"));
        ramps.insert(control.analog("S", "Ramp"));
        states.insert(control.switchState("S", "Toggle"));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_GT(walks.size(), 5u) << "the walk moves";
    EXPECT_GE(*walks.begin(), 0.0) << "the walk keeps to the limits";
    EXPECT_LE(*walks.rbegin(), 1.0) << "the walk keeps to the limits";
    EXPECT_GT(ramps.size(), 5u) << "the ramp moves";
    EXPECT_GE(*ramps.begin(), 10.0) << "the ramp rises from its base";
    EXPECT_LT(*ramps.rbegin(), 15.0) << "and falls back before base + amplitude";
    EXPECT_EQ(states, (std::set<int>{0, 1})) << "the switch toggles";

    control.setAnalog("S", "Ramp", 100.0);  // a set value becomes the new base
    const double afterSet = control.analog("S", "Ramp");
    EXPECT_GE(afterSet, 100.0);
    EXPECT_LT(afterSet, 105.0);
    control.quit();
    EXPECT_EQ(process.waitForExit(), std::optional<DWORD>(0)) << process.output();
}

TEST(SimulatorStartup, ASecondRuntimeIsRefusedWhileOneRuns) {
    const TempDirectory dir("simtwo");
    ChildProcess first = startSimulator({"--workdir=" + dir.path()});  // the sample plant by default
    ASSERT_TRUE(first.waitForLine("ready")) << first.output();

    ChildProcess second = startSimulator({"--workdir=" + dir.path()});
    EXPECT_EQ(second.waitForExit(), std::optional<DWORD>(kExitStartupFailed)) << second.output();
    EXPECT_NE(second.output().find("exists already"), std::string::npos) << second.output();

    SimulatorControl control;
    EXPECT_EQ(control.ok("ping"), "");
    control.quit();
    EXPECT_EQ(first.waitForExit(), std::optional<DWORD>(0)) << first.output();
}

}  // namespace
