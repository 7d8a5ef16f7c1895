#include "ui/main_window.h"

#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "config/catalogue.h"
#include "lang/ui_strings.h"
#include "platform/folders.h"
#include "present/info_text.h"
#include "present/text_entry.h"
#include "ui/button_page.h"
#include "ui/button_row.h"
#include "ui/colour_picker_dialog.h"
#include "ui/confirm.h"
#include "ui/device_selector.h"
#include "ui/dpi_page.h"
#include "ui/input_source.h"
#include "ui/keyboard_lighting_window.h"
#include "ui/macro_editor_window.h"
#include "ui/macro_list_window.h"
#include "ui/other_page.h"
#include "ui/profile_tabs.h"
#include "ui/qt_text.h"
#include "ui/quick_bind_input.h"
#include "ui/skin.h"
#include "ui/text_entry_dialog.h"
#include "ui/tray.h"

namespace qvm::ui {

namespace {

// How much of the last known configuration shows while its mouse is away.
constexpr qreal kAwayOpacity = 0.4;
constexpr int kWindowWidth = 1024;
constexpr int kWindowHeight = 600;
// The header band holds the four lines of the information panel at the window's own text
// size, with clear space above the accent rule along its bottom edge.
constexpr QRect kHeader(0, 0, kWindowWidth, 72);
constexpr QRect kLogo(16, 12, 192, 48);
// With the device selector below it the name takes the upper half of the band.
constexpr QRect kLogoAboveSelector(16, 6, 192, 28);
constexpr QRect kDeviceSelector(16, 39, 200, 24);
constexpr QRect kInfoPanel(226, 3, 290, 64);
constexpr QRect kPageTabs(520, 20, 380, 32);
constexpr int kPageTabGap = 10;
constexpr QRect kMinimise(932, 22, 38, 28);
constexpr QRect kHide(976, 22, 38, 28);
constexpr QRect kProfileRow(80, 76, 864, 30);
constexpr QRect kContent(0, 108, kWindowWidth, kWindowHeight - 108);
// A keyboard has no pages: its lighting opens from one button in the middle.
constexpr QRect kKeyboardLighting(432, 440, 160, 40);

constexpr int kTitleFont = 1;        // Tahoma 20
constexpr int kPageTabText = 0;      // button_str 0..2: the page names
constexpr int kProfileCaption = 1;   // cap_input_str: "Enter profile name"
constexpr int kResetButtonText = 3;  // button_str: "Reset"
// Operations the Other page starts and reports itself (button_str: Reset, Backup, Restore).
constexpr std::array<int, 3> kPageReportedOps = {3, 4, 5};

constexpr const char* kProgramName = "QVM Gaming";  // the window title; never translated
constexpr const char* kFirstPaintVariable = "QVM_REPORT_FIRST_PAINT";

}  // namespace

long long MillisecondsSinceProcessStart() {
    // Field 22 of /proc/self/stat: the start time in clock ticks since boot. The command
    // name (field 2) may hold blanks and parentheses, so fields are counted after its ')'.
    std::ifstream stat("/proc/self/stat");
    const std::string line((std::istreambuf_iterator<char>(stat)), {});
    const auto close = line.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(line.substr(close + 1));
    constexpr int kFieldsBeforeStart = 19;  // fields 3 to 21
    std::string skipped;
    for (int i = 0; i < kFieldsBeforeStart; ++i) fields >> skipped;
    unsigned long long startTicks = 0;
    if (!(fields >> startTicks)) return -1;
    timespec now{};
    if (clock_gettime(CLOCK_BOOTTIME, &now) != 0) return -1;
    const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    if (ticksPerSecond <= 0) return -1;
    const long long nowMs = static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    return nowMs - static_cast<long long>(startTicks * 1000 /
                                          static_cast<unsigned long long>(ticksPerSecond));
}

MainWindow::MainWindow(DeviceController& controller, MainWindowContext context, QWidget* parent)
    : QWidget(parent), controller_(controller), context_(std::move(context)) {
    setWindowTitle(QString::fromLatin1(kProgramName));
    // The skin is drawn for this one size: the window manager is told it is fixed and
    // offers no maximise (minimise and close stay).
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kWindowWidth, kWindowHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    input_ = InputSource::Open();

    const KeyNaming naming{[](int usage) { return std::string(KeyName(usage)); },
                           [](int usage) { return ConsumerName(usage); }};
    keyboard_ = LoadKeyboardLayout(JoinPath(context_.programFolder, "keyboard.ini"), naming);
    library_ =
        BuildFunctionLibrary(context_.programFolder, Ui(), kDefaultDpiStep, Ui().language_id);
    libraryDpiStep_ = kDefaultDpiStep;

    BuildHeader();
    profiles_ = new ProfileTabs(this);
    profiles_->setGeometry(kProfileRow);
    connect(profiles_, &ProfileTabs::activateRequested, this, [this](int profile) {
        controller_.Change(HubOperation::ActiveProfile,
                           Setter(&ConfigModel::SetActiveProfile, profile));
    });
    connect(profiles_, &ProfileTabs::renameRequested, this, &MainWindow::RenameProfile);
    connect(profiles_, &ProfileTabs::colourRequested, this, &MainWindow::ChooseProfileColour);
    connect(profiles_, &ProfileTabs::bindRequested, this, &MainWindow::BindProgram);
    connect(profiles_, &ProfileTabs::unbindRequested, this, &MainWindow::UnbindProgram);

    macroList_ = new MacroListWindow(context_.programFolder, context_.libraryRoot, this);
    macroList_->hide();

    pages_ = new QStackedWidget(this);
    pages_->setGeometry(kContent);
    ButtonPageContext buttons;
    buttons.programFolder = context_.programFolder;
    buttons.library = &library_;
    buttons.keyboard = &keyboard_;
    buttons.showMacroList = [this] { ShowMacroList(); };
    buttons.hideMacroList = [this] { macroList_->hide(); };
    buttons.showMacroEditor = [this] { ShowMacroEditor(); };
    buttons.recordIntervals = [this] {
        return macroEditor_ != nullptr ? macroEditor_->RecordIntervals() : recordIntervals_;
    };
    buttons.setRecordIntervals = [this](bool on) {
        recordIntervals_ = on;
        if (macroEditor_ != nullptr) macroEditor_->SetRecordIntervals(on);
    };
    buttons.showError = [this](const QString& text) { ShowError(text); };
    buttons.input = input_.get();
    buttonPage_ = new ButtonPage(controller_, std::move(buttons));
    dpiPage_ = new DpiPage(controller_);
    OtherPageContext other;
    other.settingsPath = context_.settingsPath;
    other.settings = context_.settings;
    other.pointer = context_.pointer;
    other.pin = context_.pin;
    other.showError = [this](const QString& text) { ShowError(text); };
    otherPage_ = new OtherPage(controller_, std::move(other));
    pages_->addWidget(buttonPage_);
    pages_->addWidget(dpiPage_);
    pages_->addWidget(otherPage_);

    if (context_.useTray && Tray::Available()) {
        tray_ = std::make_unique<Tray>();
        connect(tray_.get(), &Tray::restoreRequested, this, &MainWindow::BringToFront);
        connect(tray_.get(), &Tray::quitRequested, this, &MainWindow::Quit);
        tray_->FollowDevice(controller_);
        tray_->Show();
    }

    connect(&controller_, &DeviceController::viewChanged, this, &MainWindow::Refresh);
    connect(&controller_, &DeviceController::operationFinished, this,
            &MainWindow::OnOperationFinished);
    connect(&controller_, &DeviceController::uninitialisedFound, this,
            &MainWindow::OfferInitialisation);
    connect(&controller_, &DeviceController::unsavedFound, this,
            &MainWindow::OfferWriteWithoutBackup);
    connect(&controller_, &DeviceController::firstBackupSaved, this, [this](const QString& file) {
        const QString text = Word(kWordFirstBackupSaved, {file.toStdString()});
        std::fprintf(stderr, "qvm-gaming: %s\n", text.toLocal8Bit().constData());
        ShowNotice(this, QString::fromLatin1(kProgramName), text);
    });
    keyboardLighting_ =
        new KeyboardLightingLauncher(controller_, keyboard_, this, kKeyboardLighting);
    for (const std::string& problem : library_.problems) ShowError(StartWarning(problem));
    if (!keyboard_.warning.empty()) ShowError(StartWarning(keyboard_.warning));
    ShowPage(kButtonsPage);
    Refresh();
}

MainWindow::~MainWindow() = default;

void MainWindow::BuildHeader() {
    info_ = new QLabel(this);
    info_->setObjectName("infoPanel");
    info_->setGeometry(kInfoPanel);
    info_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The window's own text size: the panel's four lines are as readable as the rest.
    info_->setStyleSheet(
        QStringLiteral("color: %1; background: transparent;").arg(skin::kTextDim.name()));

    devices_ = new DeviceSelector(this);
    devices_->move(kDeviceSelector.topLeft());
    devices_->setFixedSize(kDeviceSelector.size());
    connect(devices_, &DeviceSelector::deviceChosen, this, &MainWindow::ChooseDevice);

    for (int page = 0; page < kPageCount; ++page) {
        auto* tab = new QPushButton(
            ToQ(Ui().button_str[static_cast<std::size_t>(kPageTabText + page)]), this);
        tab->setObjectName(QStringLiteral("pageTab%1").arg(page));
        tab->setCheckable(true);
        tab->setAutoExclusive(true);
        tab->setFocusPolicy(Qt::TabFocus);
        tab->setStyleSheet(QStringLiteral("padding: 4px 4px;"));  // the names need the width
        connect(tab, &QPushButton::clicked, this, [this, page] { ShowPage(page); });
        pageTabs_[static_cast<std::size_t>(page)] = tab;
    }
    PlaceButtonRow(pageTabs_, kPageTabs, kPageTabGap);
    // The symbols speak for themselves; the tool tips name what they do.
    minimise_ = new QPushButton(QString::fromUtf8("\u2013"), this);
    minimise_->setObjectName("minimiseButton");
    minimise_->setToolTip(ToQ(Ui().word_str[kWordMinimise]));
    minimise_->setGeometry(kMinimise);
    connect(minimise_, &QPushButton::clicked, this, &QWidget::showMinimized);
    hide_ = new QPushButton(QString::fromUtf8("\u00D7"), this);
    hide_->setObjectName("hideButton");
    hide_->setToolTip(ToQ(Ui().word_str[kWordHideToTray]));
    hide_->setGeometry(kHide);
    connect(hide_, &QPushButton::clicked, this, &MainWindow::HideToTray);
}

void MainWindow::ShowPage(int page) {
    if (page < 0 || page >= kPageCount) return;
    if (page != kButtonsPage) buttonPage_->QuickBind().Cancel();
    pages_->setCurrentIndex(page);
    PageTab(page)->setChecked(true);
}

int MainWindow::CurrentPage() const {
    return pages_->currentIndex();
}

QString MainWindow::InfoText() const {
    return info_->text();
}

void MainWindow::Refresh() {
    const DeviceView view = controller_.View();
    // Asked again only after the mouse was away (or initialised) in between.
    if (!view.uninitialised) declinedPath_.clear();
    if (view.uninitialised) {
        info_->setText(ToQ(view.modelName) + "\n" + Word(kWordUninitialisedPanel));
    } else if (view.present || view.keyboard) {
        info_->setText(ToQ(InfoPanelText(Ui(),
                                         InfoDevice{view.modelName,
                                                    static_cast<uint32_t>(view.firmwareVersion),
                                                    view.extendedButtons},
                                         context_.pin))
                           .trimmed());
    } else {
        info_->setText(ToQ(InfoPanelTextNoDevice(Ui())).trimmed());
    }
    info_->setToolTip(view.unusable.empty() ? QString() : ToQ([&] {
        std::string lines;
        for (const std::string& u : view.unusable) lines += (lines.empty() ? "" : "\n") + u;
        return lines;
    }()));

    const int dpiStep = view.present ? view.image->dpiStep : kDefaultDpiStep;
    if (dpiStep != libraryDpiStep_) {
        library_ = BuildFunctionLibrary(context_.programFolder, Ui(), dpiStep, Ui().language_id);
        libraryDpiStep_ = dpiStep;
        emit functionsChanged();
    }
    devices_->SetDevices(view.devices, view.path);
    RefreshProfiles(view);
    buttonPage_->Refresh();
    dpiPage_->Refresh();
    otherPage_->Refresh();
    macroList_->SetDpiStep(dpiStep);
    macroList_->SetMacroSlots(view.present ? view.image->macros : MacroSlots{});
    ShowAway(view.away);
    update();
}

void MainWindow::ShowAway(bool away) {
    // The mouse left: its last configuration stays on show, faded and out of reach, until
    // it is back and read again.
    for (QWidget* part : {static_cast<QWidget*>(pages_), static_cast<QWidget*>(profiles_)}) {
        part->setEnabled(!away);
        if (away == (part->graphicsEffect() != nullptr)) continue;
        if (away) {
            auto* fade = new QGraphicsOpacityEffect(part);  // owned by the widget it fades
            fade->setOpacity(kAwayOpacity);
            part->setGraphicsEffect(fade);
        } else {
            part->setGraphicsEffect(nullptr);
        }
    }
}

void MainWindow::RefreshProfiles(const DeviceView& view) {
    std::vector<ProfileTab> tabs;
    if (view.present) {
        const ConfigImage& image = *view.image;
        for (int p = 0; p < image.profileCount && p < kProfileCount; ++p) {
            const ProfileInfo& info = image.profiles[static_cast<std::size_t>(p)];
            ProfileTab tab{ToQ(info.name),
                           QColor(info.colour.red, info.colour.green, info.colour.blue), info.off};
            if (context_.settings != nullptr) {
                const AppSlot& app = context_.settings->apps[static_cast<std::size_t>(p)];
                if (!app.path.empty()) {
                    tab.app = ToQ(app.name.empty() ? app.path : app.name);
                    tab.appPath = ToQ(app.path);
                }
            }
            tabs.push_back(std::move(tab));
        }
        profiles_->SetProfiles(std::move(tabs), image.currentProfile);
    } else {
        profiles_->SetProfiles({}, -1);
    }
}

void MainWindow::ChooseDevice(const std::string& path) {
    // A binding under way belongs to the device left behind.
    buttonPage_->QuickBind().Cancel();
    controller_.SelectDevice(path);
}

void MainWindow::RenameProfile(int profile) {
    const DeviceView view = controller_.View();
    if (!view.present || profile >= view.image->profileCount) return;
    TextEntryRequest request;
    request.form = TextEntryForm::Text;
    request.caption = Ui().cap_input_str[kProfileCaption];
    request.text = view.image->profiles[static_cast<std::size_t>(profile)].name;
    request.maximumLength = kNameWriteChars;  // what the device keeps of a profile name
    if (auto entered = RunTextEntry(this, request)) {
        controller_.Change(HubOperation::ProfileName,
                           Setter(&ConfigModel::SetProfileName, profile, entered->text));
    }
}

void MainWindow::ChooseProfileColour(int profile) {
    const DeviceView view = controller_.View();
    if (!view.present || profile >= view.image->profileCount) return;
    const Rgb now = view.image->profiles[static_cast<std::size_t>(profile)].colour;
    const bool twoBit = view.image->Layout().colourPacked;
    // Storing is the only device work: a profile colour has no preview of its own, and
    // nothing reaches the device before OK.
    ColourPickerRequest request;
    request.caption = Ui().word_str[kWordOpProfileColour];
    request.setup = {.initial = now, .twoBitChannels = twoBit, .profileColour = now};
    const auto chosen = RunColourPicker(this, std::move(request));
    if (!chosen) return;
    const auto channels = DeviceChannels(chosen->colour, twoBit);
    controller_.Change(HubOperation::ProfileColour, Setter(&ConfigModel::SetProfileColour, profile,
                                                           channels[0], channels[1], channels[2]));
}

Status MainWindow::StoreAppSlot(int profile, const AppSlot& slot) {
    if (context_.settings == nullptr || profile < 0 ||
        static_cast<std::size_t>(profile) >= kStoredAppSlots) {
        return MakeError(ErrorKind::Other, "this profile cannot have a program bound");
    }
    auto apps = context_.settings->apps;
    apps[static_cast<std::size_t>(profile)] = slot;
    if (Status saved = SaveAppSlots(context_.settingsPath, apps); !saved) return saved;
    context_.settings->apps = apps;
    RefreshProfiles(controller_.View());
    emit appSlotsChanged();
    return {};
}

void MainWindow::BindProgram(int profile) {
    RunAppBindDialog(this, profile, appBindSources_,
                     [this, profile](const AppSlot& slot) { return StoreAppSlot(profile, slot); });
}

void MainWindow::UnbindProgram(int profile) {
    if (Status removed = StoreAppSlot(profile, {}); !removed) ShowError(ToQ(removed.message()));
}

void MainWindow::ShowMacroList() {
    if (!macroListPlaced_) {
        macroList_->ShowBeside(this);
        macroListPlaced_ = true;
    } else {
        macroList_->show();
        macroList_->raise();
        macroList_->activateWindow();
    }
}

void MainWindow::ShowMacroEditor() {
    if (macroEditor_ == nullptr) {
        MacroEditorContext context;
        context.libraryRoot = context_.libraryRoot;
        context.showError = [this](const QString& text) { ShowError(text); };
        context.libraryChanged = [this] { macroList_->Reload(); };
        context.input = input_.get();
        macroEditor_ = new MacroEditorWindow(controller_, std::move(context), this);
        macroEditor_->SetRecordIntervals(recordIntervals_);
        connect(macroEditor_, &MacroEditorWindow::recordIntervalsChanged, this,
                [this](bool on) { recordIntervals_ = on; });
    }
    macroEditor_->ShowBeside(this);
}

void MainWindow::BringToFront() {
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    raise();
    activateWindow();
    update();
}

void MainWindow::HideToTray() {
    if (tray_) {
        buttonPage_->QuickBind().Cancel();
        macroList_->hide();
        if (macroEditor_ != nullptr) macroEditor_->hide();
        hide();
    } else {
        showMinimized();
    }
}

void MainWindow::Quit() {
    if (quitting_) return;
    quitting_ = true;
    buttonPage_->QuickBind().Cancel();
    controller_.FlushPending();
    emit quitting();
    macroList_->close();
    if (macroEditor_ != nullptr) macroEditor_->hide();
    close();
    QApplication::quit();
}

void MainWindow::ReloadLibraries() {
    library_ =
        BuildFunctionLibrary(context_.programFolder, Ui(), libraryDpiStep_, Ui().language_id);
    emit functionsChanged();
    macroList_->Reload();
    if (macroEditor_ != nullptr) macroEditor_->ReloadLibrary();
    // qvmctl app bind/unbind change the bindings in set.ini and then ask for this reload.
    if (context_.settings != nullptr) {
        LoadedSettings loaded = ReadSettings(context_.settingsPath);
        if (loaded.warning.empty()) {
            context_.settings->apps = loaded.settings.apps;
        } else {
            // An unreadable file keeps the bindings in force rather than dropping them.
            std::fprintf(stderr, "qvm-gaming: %s\n", loaded.warning.c_str());
        }
        RefreshProfiles(controller_.View());
        emit appSlotsChanged();
    }
    // The window's own pending values go out before the device is read again.
    controller_.Hub().FlushDeferred(DeferredWrites::Scope::Everything);
    controller_.RefreshAfter(0);
    update();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (quitting_) {
        event->accept();
        return;
    }
    event->ignore();
    HideToTray();
}

void MainWindow::OnOperationFinished(const QString& operation, const QString& error) {
    // A refusal for want of a first backup is asked about instead (OfferWriteWithoutBackup).
    if (error.isEmpty() || controller_.IsUnsavedRefusal(error)) return;
    for (int text : kPageReportedOps) {
        if (operation == ToQ(Ui().button_str[static_cast<std::size_t>(text)])) return;
    }
    ShowError(operation + QStringLiteral(": ") + error);
}

void MainWindow::OfferInitialisation() {
    const DeviceView view = controller_.View();
    if (offering_ || !view.uninitialised || view.path == declinedPath_) return;
    offering_ = true;
    const bool yes =
        Confirm(this, ToQ(Ui().button_str[kResetButtonText]), Word(kWordInitialiseQuestion));
    offering_ = false;
    if (!yes) {
        declinedPath_ = view.path;
        return;
    }
    // The device may have gone or been initialised while the question was open.
    if (controller_.View().uninitialised) otherPage_->StartReset();
}

void MainWindow::OfferWriteWithoutBackup(const QString& why) {
    // Refusals that come while the question is open wait for its answer, which covers them.
    if (offeringUnsaved_) return;
    offeringUnsaved_ = true;
    const bool yes = Confirm(this, QString::fromLatin1(kProgramName),
                             Word(kWordUnsavedQuestion, {why.toStdString()}));
    offeringUnsaved_ = false;
    controller_.AnswerUnsaved(yes);
}

void MainWindow::ShowError(const QString& text) {
    errors_.push_back(text);
    std::fprintf(stderr, "qvm-gaming: %s\n", text.toLocal8Bit().constData());
    if (!showingError_) QTimer::singleShot(0, this, &MainWindow::ShowNextError);
    showingError_ = true;
}

void MainWindow::ShowNextError() {
    // Shown from the event loop, never inside the signal that reported the failure.
    while (!errors_.empty()) {
        const QString text = errors_.front();
        errors_.pop_front();
        ShowMessage(this, QString::fromLatin1(kProgramName), text);
    }
    showingError_ = false;
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    skin::DrawBackground(painter, rect());
    skin::DrawHeaderBand(painter, kHeader);
    const QRect place = devices_->isHidden() ? kLogo : kLogoAboveSelector;
    const QPixmap logo = skin::LoadSkinImage(skin::kImageLogo);
    if (!logo.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QSize fitted = logo.size().scaled(place.size(), Qt::KeepAspectRatio);
        painter.drawPixmap(QRect(place.topLeft(), fitted), logo);
    } else {
        painter.setFont(skin::SharedFont(kTitleFont));
        painter.setPen(skin::kText);
        painter.drawText(place, Qt::AlignLeft | Qt::AlignVCenter,
                         QString::fromLatin1(kProgramName));
    }
    if (!firstPaintReported_) {
        firstPaintReported_ = true;
        if (std::getenv(kFirstPaintVariable) != nullptr) ReportFirstPaint();
    }
}

void MainWindow::ReportFirstPaint() {
    std::fprintf(stderr, "first-paint-ms %lld\n", MillisecondsSinceProcessStart());
    std::fflush(stderr);
}

}  // namespace qvm::ui
