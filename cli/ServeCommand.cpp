// sim serve: a simulated player on the USB bus, as a mass-storage device that answers the
// vendor commands, until interrupted or unplugged by its fault plan.
#include <cstdio>
#include <fstream>

#include "cli/Commands.h"
#include "cli/RunSetup.h"
#include "players/PlayerSource.h"
#include "sim/SimPlayer.h"

#ifdef __linux__
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "sim/linux/FunctionFsGadget.h"
#include "sim/usb/BulkOnly.h"
#include "sim/usb/ScsiDisk.h"
#endif

namespace qdx::cli {

#ifndef __linux__

int RunSimServe(const CliCommand&, std::ostream&, std::ostream& err) {
    err << "qdxflash: sim serve needs Linux (a USB device controller through configfs and "
           "FunctionFS)\n";
    return kExitUsage;
}

#else

namespace {

// A blank disk of 1 MiB when no volume image is given.
constexpr std::uint64_t kBlankDiskSectors = 2048;
// Signal by which the serving thread tells the main thread the player left the bus.
constexpr int kUnplugSignal = SIGUSR1;

}  // namespace

int RunSimServe(const CliCommand& command, std::ostream& out, std::ostream& err) {
    // The player file is this program's alone while it is served, as for a download.
    std::string error;
    const std::optional<players::PlayerTarget> target =
        ResolveTarget(command, Target{TargetKind::Sim, command.playerPath}, &error);
    std::unique_ptr<players::PlayerSource> source =
        target ? players::PlayerSource::Prepare(*target, &error) : nullptr;
    if (!source) {
        err << "qdxflash: " << error << '\n';
        return kExitUsage;
    }
    source->Open(&error);
    sim::SimDevice& controller = *source->SimController();
    const sim::FaultPlan& faults = target->faults;
    std::unique_ptr<sim::usb::BlockImage> image;
    if (command.volumePath.empty()) {
        image = std::make_unique<sim::usb::MemoryImage>(kBlankDiskSectors);
    } else {
        image = sim::usb::FileImage::Open(command.volumePath, &error);
        if (!image) {
            err << "qdxflash: sim serve: --volume " << error << '\n';
            return kExitUsage;
        }
    }
    sim::usb::ScsiDisk disk(*image, controller);

    // Every thread started from here on inherits the blocked signals; only sigwait takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, kUnplugSignal);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    sim::GadgetSettings settings;
    settings.vendorId = command.usbVendorId;
    settings.productId = command.usbProductId;
    settings.serial = command.usbSerial;
    settings.udc = command.udcName;
    std::unique_ptr<sim::FunctionFsGadget> gadget = sim::FunctionFsGadget::Create(settings, &error);
    if (!gadget) {
        err << "qdxflash: sim serve: " << error << '\n';
        return kExitFailed;
    }
    std::atomic<bool> resetRequested{false};
    gadget->SetResetHandler([&] { resetRequested = true; });

    sim::usb::BulkOnlyServer server(*gadget, disk);
    std::atomic<bool> stop{false};
    std::atomic<bool> done{false};
    bool unplugged = false;
    std::thread serving([&] {
        while (!stop) {
            if (resetRequested.exchange(false)) {
                disk.Reset();
            }
            const auto result = server.ServeOne();
            if (result == sim::usb::BulkOnlyServer::Result::Unplug) {
                unplugged = true;
                ::kill(::getpid(), kUnplugSignal);
                break;
            }
            if (result == sim::usb::BulkOnlyServer::Result::BusGone && !stop) {
                // Between configurations, or the host reset the device: wait and listen again.
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        done = true;
    });

    const bool attached = gadget->Attach(&error);
    if (!attached) {
        err << "qdxflash: sim serve: cannot bind to the USB device controller " << gadget->Udc()
            << ": " << error << '\n';
        stop = true;
    } else {
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", command.usbVendorId, command.usbProductId);
        out << "serving " << command.playerPath << " as USB device " << ids << " serial "
            << command.usbSerial << " on " << gadget->Udc() << "; interrupt to stop" << std::endl;
        int received = 0;
        sigwait(&signals, &received);
        stop = true;
    }

    gadget->Detach();  // the device leaves the bus; transfers under way end
    while (!done) {
        sim::FunctionFsGadget::Interrupt(serving);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    serving.join();
    gadget.reset();
    // The signals stay blocked: one still pending (a second interrupt) must not end the
    // process before the player is saved.

    out << "served " << server.Commands() << " commands, " << disk.VendorCommands()
        << " of them vendor commands";
    if (unplugged) {
        out << "; the device left the bus after vendor command " << faults.unplugAfter;
    }
    out << '\n';
    // The flash has changed whatever happened, so the player is saved in every case.
    if (!source->Finish(&error)) {
        err << "qdxflash: " << error << '\n';
        return kExitFailed;
    }
    if (!source->FinishTrace(&error)) {
        err << "qdxflash: " << error << '\n';
        return kExitFailed;
    }
    out << "saved " << command.playerPath << std::endl;
    return attached ? kExitOk : kExitFailed;
}

#endif

}  // namespace qdx::cli
