// A change another program (qvmctl) makes to the device while the window runs: the
// reload the running program is woken for reads the device again and redraws.
#include <QtTest>

#include "ui/main_window.h"
#include "ui/skin.h"
#include "ui_rig.h"

using namespace qvm;
using qvm::test::UiRig;

namespace {

// Class C: profile p's name field (UTF-16LE, 9 units written) at 0x26 + 0xA0 p.
constexpr uint32_t kSecondProfileNameAt = 0xC6;
constexpr int kNameUnits = 9;
constexpr int kReloadTimeoutMs = 20000;

std::vector<uint8_t> NameField(const std::string& ascii) {
    std::vector<uint8_t> field(2 * kNameUnits, 0);
    for (std::size_t i = 0; i < ascii.size() && i < kNameUnits; ++i) {
        field[2 * i] = static_cast<uint8_t>(ascii[i]);
    }
    return field;
}

}  // namespace

class OutsideChangeTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        ui::skin::CreateSharedFonts();
        ui::skin::ApplySkin(*qApp);
    }

    void reloadShowsWhatAnotherProgramChanged() {
        UiRig rig;
        rig.Window().show();
        QVERIFY(rig.WaitLoaded());
        // Another program renames profile 2 behind the window's back.
        rig.Device().PokeMemory(kSecondProfileNameAt, NameField("Outside"));
        QVERIFY(rig.Controller().View().image->profiles[1].name != "Outside");

        rig.Window().ReloadLibraries();
        QTRY_COMPARE_WITH_TIMEOUT(
            QString::fromStdString(rig.Controller().View().image->profiles[1].name),
            QString("Outside"), kReloadTimeoutMs);
        rig.Settle();
        rig.Screenshot(&rig.Window(), "main_window_after_outside_change.png");
    }
};

QTEST_MAIN(OutsideChangeTest)
#include "outside_change_test.moc"
