#pragma once

#include "platform/LoginItem.h"

#include <QString>
#include <optional>

// A login item whose state and next failure tests control; counts changes.
class FakeLoginItem final : public LoginItem {
public:
    bool isEnabled() const override { return enabled; }
    std::optional<QString> setEnabled(bool value) override {
        ++changes;
        if (failure)
            return failure;
        enabled = value;
        return std::nullopt;
    }

    bool enabled = false;
    std::optional<QString> failure; // returned by every change while set
    int changes = 0;
};
