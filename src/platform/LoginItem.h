#pragma once

#include <QString>
#include <optional>

// Starting the application when the user logs in.
class LoginItem {
public:
    virtual ~LoginItem() = default;
    virtual bool isEnabled() const = 0;
    // Returns an error text the caller can show, or nothing on success.
    virtual std::optional<QString> setEnabled(bool enabled) = 0;
};
