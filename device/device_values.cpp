#include "device/device_values.h"

#include <utility>

namespace qvm {

const InfoRecord& ZeroInfoRecord() {
    static const InfoRecord kZero{};
    return kZero;
}

const InfoRecord& DeviceValues::Info() const {
    return InfoPages ? *InfoPages : ZeroInfoRecord();
}

DeviceValues DeviceValueTable::Get(const std::string& path) const {
    std::lock_guard lock(m_);
    auto it = values_.find(path);
    return it == values_.end() ? DeviceValues{} : it->second;
}

void DeviceValueTable::Set(const std::string& path, DeviceValues values) {
    std::lock_guard lock(m_);
    values_[path] = std::move(values);
}

void DeviceValueTable::Update(const std::string& path,
                              const std::function<void(DeviceValues&)>& fn) {
    std::lock_guard lock(m_);
    fn(values_[path]);
}

void DeviceValueTable::Erase(const std::string& path) {
    std::lock_guard lock(m_);
    values_.erase(path);
}

bool DeviceValueTable::Contains(const std::string& path) const {
    std::lock_guard lock(m_);
    return values_.count(path) != 0;
}

int32_t DeviceValueTable::Generation(const std::string& path) const {
    std::lock_guard lock(m_);
    auto it = values_.find(path);
    return it == values_.end() ? 0 : it->second.ProtocolGeneration;
}

int32_t DeviceValueTable::ModelCode(const std::string& path) const {
    std::lock_guard lock(m_);
    auto it = values_.find(path);
    return it == values_.end() ? 0 : it->second.ModelCode;
}

}  // namespace qvm
