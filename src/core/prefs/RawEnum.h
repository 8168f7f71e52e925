#pragma once

#include <QString>
#include <QStringView>
#include <optional>
#include <span>

// Setting enumerations are stored as their case name. Each enumeration lists
// its cases, in display order, in a specialisation of RawEnumCases.
template <typename E> struct RawCase {
    E value;
    QStringView raw;
};

template <typename E> struct RawEnumCases;

template <typename E> constexpr std::span<const RawCase<E>> allCases() {
    return RawEnumCases<E>::cases;
}

template <typename E> QString rawValue(E value) {
    for (const RawCase<E>& c : allCases<E>()) {
        if (c.value == value)
            return c.raw.toString();
    }
    return {};
}

// Nothing when the text names no case; matching is exact.
template <typename E> std::optional<E> fromRawValue(QStringView raw) {
    for (const RawCase<E>& c : allCases<E>()) {
        if (c.raw == raw)
            return c.value;
    }
    return std::nullopt;
}
