#include "ui/settings/RelativeTime.h"

#include <algorithm>
#include <cmath>
#include <iterator>

using namespace Qt::StringLiterals;

QString RelativeTime::spelledOut(double secondsAgo) {
    struct Unit {
        double seconds;
        QString one;
        QString many;
    };
    static const Unit units[] = {
        {365.0 * 86400, u"year"_s, u"years"_s}, {30.0 * 86400, u"month"_s, u"months"_s},
        {7.0 * 86400, u"week"_s, u"weeks"_s},   {86400, u"day"_s, u"days"_s},
        {3600, u"hour"_s, u"hours"_s},          {60, u"minute"_s, u"minutes"_s},
        {1, u"second"_s, u"seconds"_s},
    };
    const bool ahead = secondsAgo < 0;
    const double span = std::isfinite(secondsAgo) ? std::fabs(secondsAgo) : 0.0;
    const Unit* chosen = &units[std::size(units) - 1];
    for (const Unit& unit : units) {
        if (span >= unit.seconds) {
            chosen = &unit;
            break;
        }
    }
    // Capped so that a wild time from another device cannot overflow.
    const auto count = static_cast<qint64>(std::floor(std::min(span / chosen->seconds, 1e9)));
    const QString amount =
        QString::number(count) + u' ' + (count == 1 ? chosen->one : chosen->many);
    return ahead ? u"in "_s + amount : amount + u" ago"_s;
}
