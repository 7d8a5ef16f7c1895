// Hands an owned object on (to a device stack) while the test keeps a pointer to it.
#pragma once

#include <memory>

namespace qvm::test {

template <class T>
std::unique_ptr<T> Kept(T*& raw, std::unique_ptr<T> owned) {
    raw = owned.get();
    return owned;
}

}  // namespace qvm::test
