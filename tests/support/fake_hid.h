// A scriptable HID backend for tests. Every operation on a device is recorded with its
// bytes and the calling thread; replies, busy periods, failed reads and input reports
// are scripted by the test.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid.h"

namespace qvm::test {

using Bytes = std::vector<uint8_t>;

struct HidOp {
    enum class Kind { GetFeature, SetFeature, Write, Read, CancelIo };
    Kind kind = Kind::GetFeature;
    Bytes bytes;        // sent bytes, or the bytes a read handed back
    int timeoutMs = 0;  // Read only
    bool ok = true;
    std::thread::id thread;
};

class FakeHidDevice {
  public:
    // Computes the feature report answered to a GetFeature, from the last SetFeature
    // (empty before the first). Byte 0 of the answer is ignored (the caller's report ID
    // stays); a shorter answer is zero-padded.
    using Responder = std::function<Bytes(const Bytes& lastRequest)>;

    explicit FakeHidDevice(HidCaps caps) : caps_(caps) {}

    const HidCaps& Caps() const { return caps_; }

    // ---- Scripting ----
    void BusyFor(int reads) {
        With([&] { busy_ = reads; });
    }  // status 0x80
    void FailReads(int reads) {
        With([&] { failing_ = reads; });
    }  // GetFeature false
    void SetReply(Bytes reply) {
        With([&] { responder_ = [reply](const Bytes&) { return reply; }; });
    }
    void SetResponder(Responder r) {
        With([&] { responder_ = std::move(r); });
    }
    void QueueInput(Bytes report) {
        With([&] { input_.push_back(std::move(report)); });
    }
    void SetOpenFails(bool fails) {
        With([&] { openFails_ = fails; });
    }
    // The device leaves: every later operation fails and the handle says it is gone.
    void Unplug() {
        With([&] { gone_ = true; });
    }
    // The next `sets` SetFeature calls fail while the device stays attached.
    void RefuseSets(int sets) {
        With([&] { refusing_ = sets; });
    }
    // The device leaves right after it takes the next SetFeature.
    void UnplugAfterNextSet() {
        With([&] { unplugAfterSet_ = true; });
    }
    HidFailure Failure() const {
        std::lock_guard lock(m_);
        if (gone_) return {HidFailureKind::Gone, "unplugged"};
        if (lastRefused_) return {HidFailureKind::Failed, "write failed"};
        return {HidFailureKind::Failed, "read failed"};
    }
    // Called with each operation's kind as it happens (under the device's lock).
    void SetObserver(std::function<void(HidOp::Kind)> observer) {
        With([&] { observer_ = std::move(observer); });
    }
    // Yield the thread inside each operation, so a missing lock shows up as interleaving.
    void SetYield(bool yield) {
        With([&] { yield_ = yield; });
    }

    // ---- Inspection ----
    std::vector<HidOp> Ops() const {
        std::lock_guard lock(m_);
        return ops_;
    }
    std::vector<Bytes> BytesOf(HidOp::Kind kind) const {
        std::vector<Bytes> out;
        for (const HidOp& op : Ops()) {
            if (op.kind == kind) out.push_back(op.bytes);
        }
        return out;
    }
    int Count(HidOp::Kind kind) const {
        int n = 0;
        for (const HidOp& op : Ops()) n += op.kind == kind;
        return n;
    }
    void ClearOps() {
        With([&] { ops_.clear(); });
    }
    bool OpenFails() const {
        std::lock_guard lock(m_);
        return openFails_;
    }
    bool Gone() const {
        std::lock_guard lock(m_);
        return gone_;
    }

    // ---- Handle side ----
    bool GetFeature(std::span<uint8_t> buffer) {
        MaybeYield();
        std::lock_guard lock(m_);
        HidOp op{HidOp::Kind::GetFeature, {}, 0, true, std::this_thread::get_id()};
        if (gone_) {
            op.ok = false;
        } else if (failing_ > 0) {
            --failing_;
            op.ok = false;
        } else {
            Bytes answer = responder_ ? responder_(lastRequest_) : Bytes{};
            for (std::size_t i = 1; i < buffer.size(); ++i) {
                buffer[i] = i < answer.size() ? answer[i] : 0;
            }
            if (busy_ > 0 && buffer.size() > 1) {
                --busy_;
                buffer[1] |= 0x80;
            }
            op.bytes.assign(buffer.begin(), buffer.end());
        }
        Record(op);
        return op.ok;
    }
    bool SetFeature(std::span<const uint8_t> report) {
        MaybeYield();
        std::lock_guard lock(m_);
        if (gone_ || refusing_ > 0) {
            if (!gone_) --refusing_;
            Record({HidOp::Kind::SetFeature, {}, 0, false, std::this_thread::get_id()});
            return false;
        }
        lastRequest_.assign(report.begin(), report.end());
        Record({HidOp::Kind::SetFeature, lastRequest_, 0, true, std::this_thread::get_id()});
        if (unplugAfterSet_) gone_ = true;
        return true;
    }
    bool Write(std::span<const uint8_t> report) {
        std::lock_guard lock(m_);
        Record({HidOp::Kind::Write, Bytes(report.begin(), report.end()), 0, true,
                std::this_thread::get_id()});
        return true;
    }
    int Read(std::span<uint8_t> buffer, int timeoutMs) {
        std::lock_guard lock(m_);
        HidOp op{HidOp::Kind::Read, {}, timeoutMs, true, std::this_thread::get_id()};
        int n = 0;
        if (!input_.empty()) {
            const Bytes report = input_.front();
            input_.pop_front();
            n = static_cast<int>(std::min(report.size(), buffer.size()));
            std::copy_n(report.begin(), n, buffer.begin());
            op.bytes.assign(report.begin(), report.begin() + n);
        }
        Record(op);
        return n;
    }
    void CancelIo() {
        std::lock_guard lock(m_);
        Record({HidOp::Kind::CancelIo, {}, 0, true, std::this_thread::get_id()});
    }

  private:
    void Record(HidOp op) {
        lastRefused_ = op.kind == HidOp::Kind::SetFeature && !op.ok;
        if (observer_) observer_(op.kind);
        ops_.push_back(std::move(op));
    }
    template <class F>
    void With(F&& f) {
        std::lock_guard lock(m_);
        f();
    }
    void MaybeYield() {
        bool yield = false;
        With([&] { yield = yield_; });
        if (yield) std::this_thread::yield();
    }

    mutable std::mutex m_;
    HidCaps caps_;
    int busy_ = 0;
    int failing_ = 0;
    int refusing_ = 0;
    bool lastRefused_ = false;  // the latest operation was a refused SetFeature
    bool openFails_ = false;
    bool gone_ = false;
    bool unplugAfterSet_ = false;
    bool yield_ = false;
    Responder responder_;
    Bytes lastRequest_;
    std::deque<Bytes> input_;
    std::function<void(HidOp::Kind)> observer_;
    std::vector<HidOp> ops_;
};

class FakeHidHandle final : public HidHandle {
  public:
    explicit FakeHidHandle(std::shared_ptr<FakeHidDevice> device) : device_(std::move(device)) {}
    const HidCaps& Caps() const override { return device_->Caps(); }
    bool GetFeature(std::span<uint8_t> buffer) override { return device_->GetFeature(buffer); }
    bool SetFeature(std::span<const uint8_t> report) override {
        return device_->SetFeature(report);
    }
    bool Write(std::span<const uint8_t> report) override { return device_->Write(report); }
    int Read(std::span<uint8_t> buffer, int timeoutMs) override {
        return device_->Read(buffer, timeoutMs);
    }
    std::optional<std::vector<uint8_t>> IndexedString(int) override { return std::nullopt; }
    void CancelIo() override { device_->CancelIo(); }
    HidFailure LastFailure() const override { return device_->Failure(); }

  private:
    std::shared_ptr<FakeHidDevice> device_;
};

class FakeHidBackend final : public HidBackend {
  public:
    FakeHidDevice& Add(const std::string& path, HidCaps caps) {
        std::lock_guard lock(m_);
        auto& slot = devices_[path];
        slot = std::make_shared<FakeHidDevice>(caps);
        return *slot;
    }
    int OpenCount() const {
        std::lock_guard lock(m_);
        return opens_;
    }

    Result<std::vector<HidDeviceInfo>> Enumerate() override {
        std::lock_guard lock(m_);
        std::vector<HidDeviceInfo> out;
        for (const auto& [path, device] : devices_) {
            HidDeviceInfo info;
            info.path = path;
            info.caps = device->Caps();
            out.push_back(info);
        }
        return out;
    }
    Result<std::unique_ptr<HidHandle>> Open(const std::string& path) override {
        std::lock_guard lock(m_);
        ++opens_;
        auto it = devices_.find(path);
        if (it == devices_.end()) return MakeError("no such device: " + path);
        if (it->second->OpenFails()) return MakeError("cannot open " + path);
        if (it->second->Gone()) return MakeError(ErrorKind::DeviceGone, "unplugged: " + path);
        return std::unique_ptr<HidHandle>(std::make_unique<FakeHidHandle>(it->second));
    }
    std::vector<HidEvent> TakeEvents() override { return {}; }

  private:
    mutable std::mutex m_;
    std::map<std::string, std::shared_ptr<FakeHidDevice>> devices_;
    int opens_ = 0;
};

// Feature capabilities of the two configuration interfaces and the keyboards' pipe.
inline HidCaps ShortCaps() {
    return {0x0001, 2, 9, 0, 0};
}
inline HidCaps LongCaps() {
    return {0xFF18, 1, 64, 0, 0};
}
inline HidCaps KeyboardCaps() {
    return {0x0001, 0, 0, 32, 32};
}

}  // namespace qvm::test
