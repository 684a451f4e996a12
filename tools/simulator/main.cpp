// scadasim: stands in for the SCADA runtime process. It serves a plant file as the runtime's
// real-time database and mailbox in named shared memory, owns the runtime's main window that takes
// value-setting messages, moves the simulated values, and offers a control channel for tests.
// Prints "ready" on stdout once everything is published. See README.md.
#include "rtdb/rt_library.h"
#include "rtdb/standin/rt_image.h"
#include "tools/simulator/control_channel.h"
#include "tools/simulator/control_commands.h"
#include "tools/simulator/message_log.h"
#include "tools/simulator/options.h"
#include "tools/simulator/plant_file.h"
#include "tools/simulator/plant_image.h"
#include "tools/simulator/runtime_message.h"
#include "tools/simulator/runtime_window.h"
#include "tools/simulator/shared_memory.h"
#include "tools/simulator/simulation.h"
#include "tools/simulator/working_directory.h"

#include <windows.h>

#include <condition_variable>
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>

namespace {

enum ExitCode { kExitOk = 0, kExitUsage = 1, kExitPlant = 2, kExitStartup = 3 };

sim::RuntimeWindow* g_window = nullptr;

BOOL WINAPI onConsoleControl(DWORD) {
    if (g_window) g_window->requestQuit();
    return TRUE;
}

// Applies a runtime message to the plant; unknown codes, sizes and points are ignored.
bool applyRuntimeMessage(sim::Simulation& simulation, std::uint32_t code, std::span<const std::byte> payload) {
    const auto write = sim::decodeRuntimeMessage(code, payload);
    if (!write) return false;
    const auto point = simulation.findAnsi(write->station, write->kind, write->point);
    if (!point) return false;
    if (point->kind == rt::kAnalogKind)
        simulation.setAnalog(point->index, write->analogValue, sim::Clock::now());
    else
        simulation.setSwitch(point->index, write->switchState, sim::Clock::now());
    return true;
}

void publishMailbox(std::byte* mailbox, HWND window, std::size_t databaseSize) {
    const auto descriptor = rtimage::makeMemoryDescriptor(static_cast<std::uint32_t>(databaseSize));
    std::memcpy(mailbox + rt::mailbox::kSystemBlock + rt::mailbox::kMemoryDescriptor, descriptor.data(),
                descriptor.size());
    // Window handles carry 32 significant bits; the high half of the field stays 0.
    const std::uint64_t scadaWindow = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window));
    std::memcpy(mailbox + rt::mailbox::kScadaWindow, &scadaWindow, sizeof scadaWindow);
}

int run(const sim::Options& options) {
    sim::PlantSpec plant;
    sim::PlantImage plantImage;
    try {
        plant = sim::loadPlantFile(options.plantFile);
        plantImage = sim::toPlantImage(plant, options.plantFile);
    } catch (const std::exception& e) {
        std::cerr << "scadasim: " << e.what() << std::endl;
        return kExitPlant;
    }
    for (const std::string& warning : plantImage.warnings)
        std::cerr << "scadasim: warning: " << warning << std::endl;

    try {
        const std::vector<std::byte> image = rtimage::buildImage(plantImage.stations);
        sim::SharedMemory database(rt::kDatabaseName, image.size());
        std::memcpy(database.data(), image.data(), image.size());
        const auto view = rtimage::ImageView::open(database.data(), database.size());
        if (!view) throw std::logic_error("the database image does not validate");
        sim::SharedMemory mailbox(rt::mailbox::kName, rt::mailbox::kMappedSize);

        if (const std::string error = sim::writeConfigDatabaseFile(options.workingDirectory, plantImage.system);
            !error.empty())
            throw std::runtime_error(error);
        if (options.registry) {
            if (const std::string error = sim::writeServerSettings(*options.registry); !error.empty())
                throw std::runtime_error(error);
        }

        sim::Simulation simulation(*view, plant, plantImage, sim::Clock::now());
        if (options.startFrozen) simulation.freeze();
        sim::MessageLog messages;
        sim::RuntimeWindow window([&](std::uint32_t code, std::span<const std::byte> payload) {
            const bool applied = applyRuntimeMessage(simulation, code, payload);
            messages.add({code, applied, {payload.begin(), payload.end()}});
            return applied;
        });
        g_window = &window;
        SetConsoleCtrlHandler(onConsoleControl, TRUE);

        sim::ControlCommands commands(simulation, messages, window, mailbox.data());
        const sim::ControlChannel channel(options.pipeName,
                                          [&](const std::string& line) { return commands.execute(line); });

        std::jthread ticker([&](std::stop_token stop) {
            std::mutex mutex;
            std::condition_variable_any wake;
            std::unique_lock lock(mutex);
            // Nothing notifies `wake`: each wait ends with the tick period or with the stop request.
            for (;;) {
                wake.wait_for(lock, stop, options.tick, [] { return false; });
                if (stop.stop_requested()) break;
                simulation.tick(sim::Clock::now());
            }
        });

        // The simulation holds its records already; a corruption only misleads the readers.
        if (options.corruption) rtimage::corrupt(database.data(), *options.corruption);
        publishMailbox(mailbox.data(), window.handle(), database.size() * (options.corruptDescriptor ? 2 : 1));
        std::cout << "ready" << std::endl;
        window.run();

        ticker.request_stop();
        ticker.join();
        // Control connections may still be open on their threads: end the process here rather than
        // destroy what they use.
        std::cout.flush();
        ExitProcess(kExitOk);
    } catch (const std::exception& e) {
        std::cerr << "scadasim: " << e.what() << std::endl;
        return kExitStartup;
    }
}

}  // namespace

int main(int argc, char** argv) {
    sim::Options options;
    try {
        options = sim::parseOptions(argc, argv);
    } catch (const sim::UsageError& e) {
        std::cerr << "scadasim: " << e.what() << "\n(scadasim --help shows the options)\n";
        return kExitUsage;
    }
    if (!options.help.empty()) {
        std::cout << options.help;
        return kExitOk;
    }
    return run(options);
}
