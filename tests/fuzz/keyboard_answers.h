// The keyboard answers of keyboard_reply_fuzz: a HID backend over the simulator whose
// keyboard's input reports are replaced by what the fuzz input says, and a log of every
// exchange on the report pipe (the request written and the answer the host was handed).
//
// Input, one entry per input report read: a control byte c, then
//   c 0..32   an answer of the next c bytes (fewer when the input ends first); 0 is a
//             read that times out with nothing
//   c 0xFE    the read fails with the keyboard still attached
//   c 0xFF    the read fails because the keyboard left
//   other     the simulator's own answer with (c & 3) edits, each a position and a value
// Once the input is spent the answers are the simulator's own.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "device/keyboard_commands.h"
#include "platform/hid.h"

namespace qvm::fuzz {

inline constexpr uint8_t kAnswerFails = 0xFE;
inline constexpr uint8_t kAnswerGone = 0xFF;

struct PipeExchange {
    KeyboardReport request{};
    KeyboardReport answer{};  // as the host sees it: the bytes handed, then zeros
    bool failed = false;      // the read failed (the keyboard may have left)
};

class AnswerScript {
  public:
    explicit AnswerScript(std::span<const uint8_t> data) : data_(data) {}

    void Wrote(std::span<const uint8_t> report) {
        PipeExchange exchange;
        std::copy_n(report.begin(), std::min(report.size(), exchange.request.size()),
                    exchange.request.begin());
        log_.push_back(exchange);
    }

    // Fills `buffer` with the answer to the latest request from the simulator's answer
    // `own` (its first ownCount bytes, or its failure when -1); returns the count stored,
    // or -1 with `failure` set when the script fails the read.
    int Answer(std::span<uint8_t> buffer, std::span<const uint8_t> own, int ownCount,
               std::optional<HidFailure>& failure) {
        int n = ownCount;
        if (at_ < data_.size()) {
            const uint8_t c = data_[at_++];
            if (c == kAnswerFails || c == kAnswerGone) {
                failure = HidFailure{
                    c == kAnswerGone ? HidFailureKind::Gone : HidFailureKind::Failed, "scripted"};
                return Failed();
            }
            if (c <= kKeyboardReportLength) {
                const std::size_t count =
                    std::min<std::size_t>({c, data_.size() - at_, buffer.size()});
                std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(at_), count,
                            buffer.begin());
                at_ += count;
                return Handed(buffer, static_cast<int>(count));
            }
            n = std::max(ownCount, 0);
            std::copy_n(own.begin(), n, buffer.begin());
            for (int i = 0; i < (c & 3) && at_ + 1 < data_.size() && n > 0; ++i, at_ += 2) {
                buffer[data_[at_] % static_cast<std::size_t>(n)] = data_[at_ + 1];
            }
            return Handed(buffer, n);
        }
        if (n < 0) return Failed();
        std::copy_n(own.begin(), n, buffer.begin());
        return Handed(buffer, n);
    }

    const std::vector<PipeExchange>& Log() const { return log_; }

  private:
    int Failed() {
        if (!log_.empty()) log_.back().failed = true;
        return -1;
    }
    int Handed(std::span<const uint8_t> buffer, int n) {
        if (!log_.empty()) {
            KeyboardReport& answer = log_.back().answer;
            std::copy_n(buffer.begin(),
                        std::min<std::size_t>(static_cast<std::size_t>(n), answer.size()),
                        answer.begin());
        }
        return n;
    }

    std::span<const uint8_t> data_;
    std::size_t at_ = 0;
    std::vector<PipeExchange> log_;
};

class ScriptedHandle final : public HidHandle {
  public:
    ScriptedHandle(std::unique_ptr<HidHandle> inner, AnswerScript& script)
        : inner_(std::move(inner)), script_(script) {}
    const HidCaps& Caps() const override { return inner_->Caps(); }
    bool GetFeature(std::span<uint8_t> buffer) override { return inner_->GetFeature(buffer); }
    bool SetFeature(std::span<const uint8_t> report) override { return inner_->SetFeature(report); }
    bool Write(std::span<const uint8_t> report) override {
        script_.Wrote(report);
        return inner_->Write(report);
    }
    int Read(std::span<uint8_t> buffer, int timeoutMs) override {
        // The simulator's answer is always taken off its queue, so that it never answers
        // a later request with an earlier report.
        std::vector<uint8_t> own(buffer.size());
        const int ownCount = inner_->Read(own, timeoutMs);
        failure_.reset();
        return script_.Answer(buffer, own, ownCount, failure_);
    }
    std::optional<std::vector<uint8_t>> IndexedString(int index) override {
        return inner_->IndexedString(index);
    }
    void CancelIo() override { inner_->CancelIo(); }
    HidFailure LastFailure() const override { return failure_ ? *failure_ : inner_->LastFailure(); }

  private:
    std::unique_ptr<HidHandle> inner_;
    AnswerScript& script_;
    std::optional<HidFailure> failure_;
};

class ScriptedBackend final : public HidBackend {
  public:
    ScriptedBackend(std::unique_ptr<HidBackend> inner, AnswerScript& script)
        : inner_(std::move(inner)), script_(script) {}
    Result<std::vector<HidDeviceInfo>> Enumerate() override { return inner_->Enumerate(); }
    Result<std::unique_ptr<HidHandle>> Open(const std::string& path) override {
        auto handle = inner_->Open(path);
        if (!handle) return handle.error();
        return std::unique_ptr<HidHandle>(
            std::make_unique<ScriptedHandle>(std::move(*handle), script_));
    }
    std::vector<HidEvent> TakeEvents() override { return inner_->TakeEvents(); }

  private:
    std::unique_ptr<HidBackend> inner_;
    AnswerScript& script_;
};

}  // namespace qvm::fuzz
