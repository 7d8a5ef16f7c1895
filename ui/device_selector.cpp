#include "ui/device_selector.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "ui/qt_text.h"
#include "ui/skin.h"

namespace qvm::ui {

namespace {

constexpr int kIconSize = 16;
constexpr int kPathRole = Qt::UserRole;

QPixmap BlankIcon() {
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QPen Outline() {
    return QPen(skin::kText, 1.2);
}

}  // namespace

QIcon DeviceSelector::MouseIcon() {
    QPixmap pixmap = BlankIcon();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Outline());
    const QRectF body(4.0, 1.5, 8.0, 13.0);
    painter.drawRoundedRect(body, 4.0, 4.0);
    painter.drawLine(QPointF(body.left(), 6.0), QPointF(body.right(), 6.0));  // the buttons
    painter.drawLine(QPointF(8.0, body.top()), QPointF(8.0, 6.0));            // their split
    painter.setBrush(skin::kAccent);
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(QRectF(7.2, 2.8, 1.6, 2.4), 0.8, 0.8);  // the wheel
    return QIcon(pixmap);
}

QIcon DeviceSelector::KeyboardIcon() {
    QPixmap pixmap = BlankIcon();
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Outline());
    painter.drawRoundedRect(QRectF(0.8, 3.5, 14.4, 9.0), 1.5, 1.5);
    painter.setPen(Qt::NoPen);
    painter.setBrush(skin::kText);
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 5; ++column) {
            painter.drawRect(QRectF(2.6 + column * 2.4, 5.2 + row * 2.2, 1.4, 1.3));
        }
    }
    painter.setBrush(skin::kAccent);
    painter.drawRect(QRectF(4.5, 9.8, 7.0, 1.3));  // the space bar
    return QIcon(pixmap);
}

DeviceSelector::DeviceSelector(QWidget* parent) : QComboBox(parent) {
    setObjectName(QStringLiteral("deviceSelector"));
    setIconSize(QSize(kIconSize, kIconSize));
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(Word(kWordDeviceSelector));
    setToolTip(Word(kWordDeviceSelectorTip));
    hide();
    connect(this, &QComboBox::activated, this, [this](int index) {
        const std::string path = PathAt(index);
        if (!path.empty() && path != active_) emit deviceChosen(path);
    });
}

void DeviceSelector::SetDevices(const std::vector<HubDevice>& devices, const std::string& active) {
    if (devices != devices_) {
        const QSignalBlocker quiet(this);
        clear();
        devices_ = devices;
        for (const HubDevice& device : devices_) {
            // Two devices of one model are told apart by their place in the list.
            QString name = ToQ(device.modelName);
            int place = 0;
            int total = 0;
            for (const HubDevice& other : devices_) {
                if (other.modelName != device.modelName) continue;
                ++total;
                if (&other == &device) place = total;
            }
            if (total > 1) name += QStringLiteral(" (%1)").arg(place);
            addItem(device.keyboard ? KeyboardIcon() : MouseIcon(), name,
                    QString::fromStdString(device.path));
            setItemData(count() - 1, QString::fromStdString(device.path), Qt::ToolTipRole);
        }
    }
    const QSignalBlocker quiet(this);
    active_ = active;
    setCurrentIndex(findData(QString::fromStdString(active), kPathRole));
    setVisible(devices_.size() > 1);
}

std::string DeviceSelector::PathAt(int index) const {
    if (index < 0 || index >= count()) return {};
    return itemData(index, kPathRole).toString().toStdString();
}

}  // namespace qvm::ui
