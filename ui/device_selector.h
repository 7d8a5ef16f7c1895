// DeviceSelector: the header's choice of the device the window works on, one entry per
// attached device with its model name and a small mouse or keyboard symbol. It shows
// itself only while more than one device is attached; with one there is nothing to
// choose. It only asks: the main window passes the choice to the device controller, and
// the pages follow once the chosen device is read.
#pragma once

#include <QComboBox>
#include <QIcon>
#include <string>
#include <vector>

#include "session/device_hub.h"

namespace qvm::ui {

class DeviceSelector : public QComboBox {
    Q_OBJECT
  public:
    explicit DeviceSelector(QWidget* parent = nullptr);

    // The attached devices and the active one (empty: none). Emits nothing.
    void SetDevices(const std::vector<HubDevice>& devices, const std::string& active);
    // The device path of an entry; empty outside the list.
    std::string PathAt(int index) const;

    // The symbols of the entries, drawn at the combo box's icon size.
    static QIcon MouseIcon();
    static QIcon KeyboardIcon();

  signals:
    // The user chose another device.
    void deviceChosen(const std::string& path);

  private:
    std::vector<HubDevice> devices_;
    std::string active_;
};

}  // namespace qvm::ui
