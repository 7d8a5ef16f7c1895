// MainWindow: the program's one top-level window, 1024 x 600, titled "QVM Gaming".
//
//   y 0..56     header band: the program's name at the left (above the device selector
//               while more than one device is attached), the short information panel,
//               the three page tabs ("Button settings", "DPI settings", "Other") and the
//               "minimise" and "hide to tray" buttons at the far right;
//   y 62..100   the five profile tabs;
//   y 108..600  the page: buttons (ButtonPage), DPI settings (DpiPage), other (OtherPage).
//
// The window redraws from the device controller's view whenever it changes and shows
// every failed device operation to the user. Closing it hides it to the tray (or
// minimises it where the desktop has no tray); "Quit" writes what is still pending and
// ends the program.
#pragma once

#include <QPointer>
#include <QWidget>
#include <array>
#include <deque>
#include <memory>
#include <string>

#include "lang/keyboard_layout.h"
#include "macro/function_library.h"
#include "session/settings.h"
#include "ui/app_bind_dialog.h"
#include "ui/device_controller.h"

class QLabel;
class QPushButton;
class QStackedWidget;

namespace qvm::ui {

class ButtonPage;
class DeviceSelector;
class DpiPage;
class InputSource;
class KeyboardLightingLauncher;
class MacroEditorWindow;
class MacroListWindow;
class OtherPage;
class ProfileTabs;
class Tray;

struct MainWindowContext {
    std::string programFolder;  // language.ini, keyboard.ini, function libraries
    std::string libraryRoot;    // the macro library folder
    std::string settingsPath;   // set.ini
    UserSettings* settings = nullptr;
    PointerAcceleration* pointer = nullptr;  // null: the option is saved, nothing applied
    int pin = 0;
    bool useTray = true;  // create the tray icon when the desktop has a tray
};

class MainWindow : public QWidget {
    Q_OBJECT
  public:
    enum Page { kButtonsPage = 0, kDpiPage = 1, kOtherPage = 2, kPageCount = 3 };

    MainWindow(DeviceController& controller, MainWindowContext context, QWidget* parent = nullptr);
    ~MainWindow() override;

    void ShowPage(int page);
    int CurrentPage() const;

    // Shows the window, restores it from minimised and brings it to the front.
    void BringToFront();
    // Hides the window to the tray, or minimises it when there is no tray.
    void HideToTray();
    // Writes pending deferred values, closes the windows and ends the event loop.
    void Quit();
    // Rebuilds the function library and the macro list from disk, reads the programs bound
    // to profiles from set.ini again, reloads the device's configuration (another program,
    // such as qvmctl, may have changed them), then redraws.
    void ReloadLibraries();
    // Where the binding dialog takes the running programs and its file chooser from
    // (tests answer them).
    void SetAppBindSources(AppBindSources sources) { appBindSources_ = std::move(sources); }
    // Shows a failure in a message box; several in a row are shown one after the other.
    void ShowError(const QString& text);

    // Parts of the window, for tests.
    QPushButton* PageTab(int page) const { return pageTabs_.at(static_cast<std::size_t>(page)); }
    QPushButton* HideButton() const { return hide_; }
    QPushButton* MinimiseButton() const { return minimise_; }
    ProfileTabs& Profiles() const { return *profiles_; }
    ButtonPage& Buttons() const { return *buttonPage_; }
    DpiPage& Dpi() const { return *dpiPage_; }
    OtherPage& Other() const { return *otherPage_; }
    MacroListWindow& MacroList() const { return *macroList_; }
    // The macro editor, made at its first opening and kept (hidden) from then on; null
    // until then.
    MacroEditorWindow* MacroEditor() const { return macroEditor_; }
    void ShowMacroEditor();
    Tray* TrayIcon() const { return tray_.get(); }
    DeviceSelector& Devices() const { return *devices_; }
    QString InfoText() const;
    const FunctionLibrary& Functions() const { return library_; }
    // The program's one source of the user's keys and clicks (quick binding, the macro
    // recorder): the whole desktop on X11, else this program's windows.
    InputSource& Input() const { return *input_; }
    // The "Lighting" button and window of the active keyboard.
    KeyboardLightingLauncher& KeyboardLighting() const { return *keyboardLighting_; }

  signals:
    // The program is ending (after "Quit" or a close request from outside).
    void quitting();
    // The programs bound to profiles (MainWindowContext::settings->apps) changed: a
    // binding was made or removed here, or they were read again from set.ini.
    void appSlotsChanged();
    // The function library (Functions()) was built again: another DPI step or a reload.
    void functionsChanged();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildHeader();
    void Refresh();
    void RefreshProfiles(const DeviceView& view);
    void ChooseDevice(const std::string& path);
    // Greys the pages and profile tabs while the mouse is away.
    void ShowAway(bool away);
    void RenameProfile(int profile);
    void ChooseProfileColour(int profile);
    void BindProgram(int profile);
    void UnbindProgram(int profile);
    // Stores `slot` for `profile` in set.ini, then in the settings; nothing changes when
    // the file cannot be written.
    Status StoreAppSlot(int profile, const AppSlot& slot);
    void ShowMacroList();
    void OnOperationFinished(const QString& operation, const QString& error);
    // Offers the factory reset for a mouse whose memory holds no configuration, once per
    // arrival: only on yes is anything written.
    void OfferInitialisation();
    // Asks whether to write into a mouse whose memory could not be saved first.
    void OfferWriteWithoutBackup(const QString& why);
    void ShowNextError();
    void ReportFirstPaint();

    DeviceController& controller_;
    MainWindowContext context_;
    std::unique_ptr<InputSource> input_;
    FunctionLibrary library_;
    int libraryDpiStep_ = 0;
    KeyboardLayout keyboard_;

    std::array<QPushButton*, kPageCount> pageTabs_{};
    QPushButton* minimise_ = nullptr;
    QPushButton* hide_ = nullptr;
    QLabel* info_ = nullptr;
    DeviceSelector* devices_ = nullptr;  // shown while more than one device is attached
    ProfileTabs* profiles_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    ButtonPage* buttonPage_ = nullptr;
    DpiPage* dpiPage_ = nullptr;
    OtherPage* otherPage_ = nullptr;
    MacroListWindow* macroList_ = nullptr;
    MacroEditorWindow* macroEditor_ = nullptr;  // owned by the window (Qt parent)
    bool recordIntervals_ = true;               // the editor's option, kept here until it is made
    bool macroListPlaced_ = false;
    std::unique_ptr<Tray> tray_;
    KeyboardLightingLauncher* keyboardLighting_ = nullptr;  // owned by the window (Qt parent)
    AppBindSources appBindSources_ = DefaultAppBindSources();

    bool offering_ = false;         // the initialisation question is open
    bool offeringUnsaved_ = false;  // the question about writing without a backup is open
    std::string declinedPath_;      // the uninitialised mouse the user said no for

    std::deque<QString> errors_;
    bool showingError_ = false;
    bool quitting_ = false;
    bool firstPaintReported_ = false;
};

// Milliseconds since this process started, from the start time the kernel keeps for it.
long long MillisecondsSinceProcessStart();

}  // namespace qvm::ui
