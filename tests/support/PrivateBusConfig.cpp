#include "PrivateBusConfig.h"

QString privateBusConfig() {
    return QStringLiteral(TINDREL_PRIVATE_BUS_CONFIG);
}
