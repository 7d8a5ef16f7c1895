#include "platform/input_injector.h"

#ifdef QVM_HAVE_LINUX_HID
#include "platform/linux/uinput_injector.h"
#include "platform/linux/xtest_injector.h"
#endif

namespace qvm {
namespace {

// Where nothing can inject: every call fails and says why, so that a caller never takes
// input that went nowhere for input that was made.
class NoInputInjector final : public InputInjector {
  public:
    explicit NoInputInjector(std::string why) : why_("no input injection: " + std::move(why)) {}

    std::string Name() const override { return "none"; }
    Status MovePointer(int, int) override { return Fail(); }
    Status ScrollHorizontal(int) override { return Fail(); }
    Result<InjectPoint> PointerPosition() override { return MakeError(ErrorKind::BadInput, why_); }
    bool CanTouch() const override { return false; }
    Status Touch(TouchPhase, InjectPoint) override { return Fail(); }

  private:
    Status Fail() const { return MakeError(ErrorKind::Other, why_); }

    std::string why_;
};

void AddReason(std::string& why, const std::string& reason) {
    if (!why.empty()) why += "; ";
    why += reason;
}

}  // namespace

std::unique_ptr<InputInjector> OpenInputInjector(std::string& why) {
    why.clear();
#ifdef QVM_HAVE_LINUX_HID
    auto uinput = UinputInjector::Open();
    if (uinput) return std::move(*uinput);
    AddReason(why, "uinput: " + uinput.message());
    auto xtest = XTestInjector::Open();
    if (xtest) return std::move(*xtest);
    AddReason(why, "XTest: " + xtest.message());
#else
    AddReason(why, "this build leaves out the Linux platform, which injects input");
#endif
    return std::make_unique<NoInputInjector>(why);
}

}  // namespace qvm
