#include "net/remote_host.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <type_traits>
#include <utility>

#include "lang/ui_strings.h"
#include "net/remote_status_source.h"

namespace qvm::remote {

namespace {

Packet ToPacket(std::span<const uint8_t> bytes) {
    return Packet(bytes.begin(), bytes.end());
}

template <class Packets>
std::vector<Packet> ToPackets(const Packets& packets) {
    std::vector<Packet> out;
    out.reserve(packets.size());
    for (const auto& p : packets) out.push_back(ToPacket(p));
    return out;
}

// Whether the snapshot shows a loaded mouse the program may talk to.
bool MouseReady(const HubSnapshot& snap) {
    return snap.present && !snap.away && !snap.keyboard && !snap.uninitialised &&
           snap.image->loaded;
}

// One decoded request turned into a queued change of the hub, or dropped. The checks
// here only spare the window errors from a companion's slip: each setter checks again.
class RequestRunner {
  public:
    RequestRunner(DeviceHub& hub, const ConfigImage& image) : hub_(hub), image_(image) {}

    void operator()(const SelectStage& r) {
        hub_.Change(HubOperation::CurrentStage, Setter(&ConfigModel::SetCurrentDpiStage, r.stage));
    }
    void operator()(const SelectProfile& r) {
        hub_.Change(HubOperation::ActiveProfile, Setter(&ConfigModel::SetActiveProfile, r.profile));
    }
    void operator()(const SetStageValues& r) {
        hub_.Change(HubOperation::StageFlags,
                    [r](ConfigModel& model, const DeviceHub::ProgressFn&) -> Status {
                        // Checked on the model in force when the change runs, so a value
                        // out of range writes nothing.
                        for (const int value : {int{r.x}, int{r.y}}) {
                            if (Status ok = model.ValidateDpiValue(value); !ok) return {};
                        }
                        return model.SetDpiStage(r.stage, r.x, r.y);
                    });
    }
    void operator()(const Assign& r) {
        // The request's count is 16 or 24; the mouse may have fewer buttons.
        if (r.button >= image_.ButtonCount()) return;
        hub_.Change(HubOperation::AssignButton,
                    Setter(&ConfigModel::AssignButton, r.profile, r.button, r.type, r.operands[0],
                           r.operands[1], r.operands[2]));
    }
    void operator()(const LiveBytes& r) {
        hub_.Change(HubOperation::Lighting,
                    [value = r.value](ConfigModel& model, const DeviceHub::ProgressFn&) {
                        return model.WithImageCopy([value](ConfigModel::ImageCopy& copy) -> Status {
                            if (!copy.Commands().SetLiveBytes(copy.Path(), value)) {
                                return MakeError(ErrorKind::DeviceRefused,
                                                 "the mouse did not take the live value");
                            }
                            return {};
                        });
                    });
    }
    void operator()(const ProfileNameFloats& r) {
        hub_.Change(HubOperation::ProfileName, Setter(&ConfigModel::SetProfileName, 0, r.text));
    }
    // Answered before a device is looked at.
    void operator()(const NameRequest&) {}
    void operator()(const PointerMove&) {}
    void operator()(const Ignored&) {}

  private:
    DeviceHub& hub_;
    const ConfigImage& image_;
};

}  // namespace

std::string LocalComputerName() {
    std::array<char, HOST_NAME_MAX + 1> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0) return {};
    return std::string(name.data());
}

RemoteHost::RemoteHost(DeviceHub& hub, InputInjector& injector) : hub_(hub), injector_(injector) {}

RemoteHost::~RemoteHost() {
    Stop();
}

Status RemoteHost::Start(const RemoteHostOptions& options) {
    if (options.pin < 0 || options.pin > kMaxPin) {
        return MakeError(ErrorKind::BadInput, "the PIN must be 0 to " + std::to_string(kMaxPin) +
                                                  ", not " + std::to_string(options.pin));
    }
    if (service_.Running()) {
        return MakeError(ErrorKind::Other, "the companion service is already running");
    }
    computerName_ = options.computerName;
    pin_ = static_cast<uint32_t>(options.pin);
    SetFavourites(options.favourites);

    RemoteHandlers handlers;
    handlers.connectPackets = [this] { return ConnectPackets(); };
    handlers.favouritePackets = [this] { return FavouritePackets(); };
    handlers.statusPackets = [this] { return StatusPackets(); };
    handlers.request = [this](std::span<const uint8_t> r) { return Request(r); };
    handlers.datagram = [this](std::span<const uint8_t> d) { return Datagram(d); };
    handlers.announcement = [this] { return AnnouncementPacket(); };
    return service_.Start(options.service, std::move(handlers));
}

void RemoteHost::Stop() {
    service_.Stop();
}

void RemoteHost::SetEventRate(uint16_t eventsPerSecond) {
    eventRate_.store(eventsPerSecond);
}

void RemoteHost::SetFavourites(std::vector<FavouriteFunction> favourites) {
    {
        std::lock_guard lock(favouritesMutex_);
        favourites_ = std::move(favourites);
    }
    service_.MarkFavouritesChanged();
}

std::vector<Packet> RemoteHost::ConnectPackets() const {
    const HubSnapshot snap = hub_.Snapshot();
    return ToPackets(BuildConnectionLists(ListSourceFromUi(Ui(), snap.layout)));
}

std::vector<Packet> RemoteHost::FavouritePackets() const {
    std::lock_guard lock(favouritesMutex_);
    return ToPackets(BuildFavouritePackets(favourites_));
}

std::vector<Packet> RemoteHost::StatusPackets() const {
    const HubSnapshot snap = hub_.Snapshot();
    if (!MouseReady(snap)) return {ToPacket(BuildNoDevicePacket())};
    const ConfigImage& image = *snap.image;
    std::vector<Packet> packets;
    const auto profile =
        static_cast<std::size_t>(std::clamp(image.currentProfile, 0, kProfileCount - 1));
    if (const auto keys = BuildKeyCyclePacket(image.keyCycles[profile].bytes)) {
        packets.push_back(ToPacket(*keys));
    }
    packets.push_back(ToPacket(
        BuildStatusPacket(StatusInputFromImage(image, snap.extendedButtons, eventRate_.load()))));
    return packets;
}

std::optional<Packet> RemoteHost::Request(std::span<const uint8_t> received) {
    const HubSnapshot snap = hub_.Snapshot();
    const int buttons = snap.extendedButtons ? kExtendedButtonCount : kStandardButtonCount;
    const RemoteRequest request = DecodeRequest(received, buttons);
    if (std::holds_alternative<NameRequest>(request)) {
        return ToPacket(BuildNameReply(ComputerName()));
    }
    if (const auto* move = std::get_if<PointerMove>(&request)) {
        // A pointer that cannot be moved has nobody to tell: the companion gets no reply.
        (void)injector_.MovePointer(move->dx, move->dy);
        return std::nullopt;
    }
    if (MouseReady(snap)) std::visit(RequestRunner(hub_, *snap.image), request);
    return std::nullopt;
}

std::optional<Packet> RemoteHost::Datagram(std::span<const uint8_t> received) {
    const RemoteDatagram datagram = DecodeDatagram(received);
    if (std::holds_alternative<Discovery>(datagram)) return AnnouncementPacket();
    if (const auto* move = std::get_if<PointerMove>(&datagram)) {
        (void)injector_.MovePointer(move->dx, move->dy);
    }
    return std::nullopt;
}

Packet RemoteHost::AnnouncementPacket() const {
    return ToPacket(BuildAnnouncement(ComputerName(), pin_));
}

std::string RemoteHost::ComputerName() const {
    return computerName_.empty() ? LocalComputerName() : computerName_;
}

}  // namespace qvm::remote
