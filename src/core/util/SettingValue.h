#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

// Reading typed values back from the settings store. The INI backend keeps no
// types, so "250" and "true" must read as 250 and true, while text that is
// not a number or a Boolean must not read as 0 or true. Each function gives
// nothing for a value of the wrong type.
namespace SettingValue {
std::optional<qint64> toInteger(const QVariant& value);
std::optional<bool> toBool(const QVariant& value);
// Finite numbers only: NaN and infinities are no usable setting.
std::optional<double> toDouble(const QVariant& value);
std::optional<QString> toString(const QVariant& value);
// A single string counts as a one-element list: that is how the INI backend
// hands back a list of one.
std::optional<QStringList> toStringList(const QVariant& value);
std::optional<QByteArray> toBytes(const QVariant& value);
} // namespace SettingValue
