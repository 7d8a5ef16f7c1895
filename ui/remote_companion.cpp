#include "ui/remote_companion.h"

#include <cstdio>
#include <utility>

#include "lang/ui_strings.h"
#include "net/local_addresses.h"
#include "net/remote_host.h"
#include "platform/input_injector.h"
#include "present/info_text.h"
#include "ui/device_controller.h"
#include "ui/qt_text.h"

namespace qvm::ui {

namespace {

std::string Joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : ", ") + part;
    return out;
}

}  // namespace

RemoteCompanion::RemoteCompanion(DeviceController& controller, RemoteCompanionContext context,
                                 QObject* parent)
    : QObject(parent), controller_(controller), context_(std::move(context)) {
    // Every change the window shows is a change the companions are sent: the window's own,
    // the mouse's status reports, reloads, and requests of the companions themselves,
    // which land on the hub after their connection closed.
    connect(&controller_, &DeviceController::viewChanged, this, [this] {
        if (host_) host_->ViewChanged();
    });
}

RemoteCompanion::~RemoteCompanion() = default;

Status RemoteCompanion::SetRunning(bool on) {
    if (!on) {
        // Also forgets why a start failed: the service is simply off now.
        failure_.clear();
        if (!Running()) return {};
        host_->Stop();
        emit runningChanged(false);
        return {};
    }
    if (Running()) return {};
    if (!host_) {
        InputInjector* injector = context_.injector;
        if (injector == nullptr) {
            // Companions only move the pointer: why touch is missing does not matter here,
            // and host services already told the terminal what this machine injects with.
            std::string limits;
            ownInjector_ = OpenInputInjector(limits);
            injector = ownInjector_.get();
        }
        host_ = std::make_unique<remote::RemoteHost>(controller_.Hub(), *injector);
    }
    remote::RemoteHostOptions options;
    options.service = context_.service;
    options.pin = context_.pin;
    options.favourites = context_.favourites;
    // Not done yet: the program does not measure the device's events per second, so the
    // event rate companions show stays 0 (RemoteHost::SetEventRate is never called).
    if (Status started = host_->Start(options); !started) {
        failure_ = started.message();
        return started;
    }
    failure_.clear();
    emit runningChanged(true);
    return {};
}

bool RemoteCompanion::Running() const {
    return host_ && host_->Running();
}

remote::RemotePorts RemoteCompanion::Ports() const {
    return host_ ? host_->Ports() : remote::RemotePorts{};
}

std::vector<std::string> RemoteCompanion::ListenAddresses() const {
    const remote::Ipv4Address bound = context_.service.bindAddress;
    if (bound != remote::Ipv4Address{0, 0, 0, 0}) return {remote::AddressText(bound)};
    std::vector<std::string> out;
    if (auto local = remote::LocalIpv4Addresses()) {
        for (const remote::Ipv4Address& address : *local)
            out.push_back(remote::AddressText(address));
    }
    out.push_back(remote::AddressText({127, 0, 0, 1}));
    return out;
}

QString RemoteCompanion::StateText() const {
    if (Running()) {
        const remote::RemotePorts ports = Ports();
        return Word(kWordRemoteListening, {Joined(ListenAddresses()), std::to_string(ports.status),
                                           std::to_string(ports.request),
                                           std::to_string(ports.datagram), PinText(context_.pin)});
    }
    if (!failure_.empty()) return Word(kWordRemoteFailed, {failure_});
    return Word(kWordRemoteOff);
}

void RemoteCompanion::SetFavourites(std::vector<remote::FavouriteFunction> favourites) {
    context_.favourites = std::move(favourites);
    if (Running()) host_->SetFavourites(context_.favourites);
}

void StartRemoteIfWanted(RemoteCompanion& companion, const UserSettings& settings,
                         bool remoteSwitch) {
    if (!RemoteServiceWanted(settings, remoteSwitch)) return;
    if (const Status started = companion.SetRunning(true); !started) {
        std::fprintf(stderr, "qvm-gaming: the companion service did not start: %s\n",
                     started.message().c_str());
    }
}

}  // namespace qvm::ui
