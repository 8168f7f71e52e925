#include "core/util/SettingValue.h"

#include <cmath>
#include <limits>

namespace {

bool isTextual(const QVariant& value) {
    const int type = value.typeId();
    return type == QMetaType::QString || type == QMetaType::QByteArray;
}

bool isNumeric(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

} // namespace

std::optional<qint64> SettingValue::toInteger(const QVariant& value) {
    bool ok = false;
    if (isTextual(value)) {
        const qint64 number = value.toString().trimmed().toLongLong(&ok);
        return ok ? std::optional(number) : std::nullopt;
    }
    if (!isNumeric(value))
        return std::nullopt;
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
        const double number = value.toDouble();
        // Whole numbers only, and only those a qint64 can hold exactly.
        if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) > 9.0e15)
            return std::nullopt;
        return qint64(number);
    }
    if (value.typeId() == QMetaType::ULongLong || value.typeId() == QMetaType::ULong) {
        const qulonglong number = value.toULongLong();
        if (number > qulonglong(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(number);
    }
    const qint64 number = value.toLongLong(&ok);
    return ok ? std::optional(number) : std::nullopt;
}

std::optional<bool> SettingValue::toBool(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (isTextual(value)) {
        const QString text = value.toString().trimmed();
        if (text.compare(u"true", Qt::CaseInsensitive) == 0 || text == u"1")
            return true;
        if (text.compare(u"false", Qt::CaseInsensitive) == 0 || text == u"0")
            return false;
        return std::nullopt;
    }
    if (const auto number = isNumeric(value) ? toInteger(value) : std::nullopt) {
        if (*number == 0 || *number == 1)
            return *number == 1;
    }
    return std::nullopt;
}

std::optional<double> SettingValue::toDouble(const QVariant& value) {
    bool ok = false;
    double number = 0;
    if (isTextual(value))
        number = value.toString().trimmed().toDouble(&ok);
    else if (isNumeric(value))
        number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    return number;
}

std::optional<QString> SettingValue::toString(const QVariant& value) {
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

std::optional<QStringList> SettingValue::toStringList(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::QStringList:
        return value.toStringList();
    case QMetaType::QString:
        return QStringList{value.toString()};
    case QMetaType::QVariantList: {
        QStringList list;
        for (const QVariant& item : value.toList()) {
            if (item.typeId() != QMetaType::QString)
                return std::nullopt;
            list.append(item.toString());
        }
        return list;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QByteArray> SettingValue::toBytes(const QVariant& value) {
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    if (value.typeId() == QMetaType::QString)
        return value.toString().toUtf8();
    return std::nullopt;
}
