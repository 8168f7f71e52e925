#include "ui/settings/HistoryPane.h"

#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "ui/settings/Hint.h"
#include "ui/settings/NumberField.h"
#include "ui/settings/PaneForm.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {
constexpr int kTenths = 10; // the slider counts tenths of a second
}

HistoryPane::HistoryPane(Preferences& prefs, ClipStore& store, bool clipboardPolls, QWidget* parent)
    : QWidget(parent) {
    PaneForm form(this, prefs);

    QFormLayout* limits = form.section(u"Limits"_s);
    form.number(limits,
                new NumberField(u"Remember"_s, 10, 1000, u"clips"_s,
                                u"How many recent clips to keep. Older ones fall off the end."_s),
                &Preferences::historyLimit, &Preferences::setHistoryLimit,
                &Preferences::historyLimitChanged);
    auto* display = form.number(
        limits,
        new NumberField(u"Display"_s, 5, std::max(5, prefs.historyLimit()), u"clips"_s,
                        u"How many recent clips the panel lists. Cannot exceed what you "
                        "remember."_s),
        &Preferences::displayLimit, &Preferences::setDisplayLimit,
        &Preferences::displayLimitChanged);
    // The range first: a value outside the old range would be clamped.
    connect(&prefs, &Preferences::historyLimitChanged, display, [&prefs, display] {
        display->setRange(5, std::max(5, prefs.historyLimit()));
        display->setValue(prefs.displayLimit());
    });
    Hint* listed = form.hint(limits);
    const auto showListed = [&prefs, listed] {
        const QString h = QString::number(prefs.historyLimit());
        listed->setText(u"The panel lists the "_s + QString::number(prefs.displayLimit()) +
                        u" most recent of "_s + h + u" remembered. Searching still reaches all "_s +
                        h + u" — pinned clips are always shown."_s);
    };
    showListed();
    connect(&prefs, &Preferences::historyLimitChanged, listed, showListed);
    connect(&prefs, &Preferences::displayLimitChanged, listed, showListed);

    form.number(limits,
                new NumberField(u"Maximum pinned"_s, 1, 20, u"clips"_s,
                                u"Pinned clips are never evicted, so this is a deliberate "
                                "ceiling."_s),
                &Preferences::pinLimit, &Preferences::setPinLimit, &Preferences::pinLimitChanged);
    Hint* overLimit = form.hint(limits);
    const auto showOverLimit = [&prefs, &store, limits, overLimit] {
        const qsizetype pins = store.pinned().size();
        overLimit->setText(u"You currently have "_s + QString::number(pins) +
                           u" pinned. Existing pins are kept — you just can't add more until "
                           "you're under the limit."_s);
        limits->setRowVisible(overLimit, pins > prefs.pinLimit());
    };
    showOverLimit();
    connect(&prefs, &Preferences::pinLimitChanged, overLimit, showOverLimit);
    connect(&store, &ClipStore::pinnedChanged, overLimit, showOverLimit);

    QFormLayout* captured = form.section(u"What gets captured"_s);
    form.toggle(captured, u"Promote re-copied clips instead of duplicating"_s,
                &Preferences::ignoreDuplicates, &Preferences::setIgnoreDuplicates,
                &Preferences::ignoreDuplicatesChanged);
    form.toggle(captured, u"Trim leading and trailing whitespace"_s, &Preferences::trimWhitespace,
                &Preferences::setTrimWhitespace, &Preferences::trimWhitespaceChanged);
    form.toggle(captured, u"Skip clips shorter than 3 characters"_s, &Preferences::skipShortClips,
                &Preferences::setSkipShortClips, &Preferences::skipShortClipsChanged);
    form.number(captured,
                new NumberField(u"Skip clips longer than"_s, 0, 1000000, u"chars"_s,
                                u"0 means no limit."_s),
                &Preferences::maxClipLength, &Preferences::setMaxClipLength,
                &Preferences::maxClipLengthChanged);
    Hint* noLimit = form.hint(captured, u"0 = no length limit."_s);
    form.showWhile(captured, noLimit, [&prefs] { return prefs.maxClipLength() == 0; },
                   {&Preferences::maxClipLengthChanged});

    // Where the clipboard reports each change, there is no timer to set.
    if (!clipboardPolls) {
        form.finish();
        return;
    }
    QFormLayout* polling = form.section(u"Polling"_s);
    auto* rate = new QWidget(this);
    auto* rateRow = new QHBoxLayout(rate);
    rateRow->setContentsMargins(0, 0, 0, 0);
    auto* slider = new QSlider(Qt::Horizontal, rate);
    slider->setRange(int(std::lround(Preferences::minPollInterval * kTenths)),
                     int(std::lround(Preferences::maxPollInterval * kTenths)));
    slider->setFixedWidth(160);
    slider->setAccessibleName(u"Check clipboard every"_s);
    auto* seconds = new QLabel(rate);
    seconds->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    seconds->setFixedWidth(48);
    rateRow->addWidget(slider);
    rateRow->addWidget(seconds);
    rateRow->addStretch(1);
    const auto showRate = [&prefs, slider, seconds] {
        const QSignalBlocker blocker(slider);
        slider->setValue(int(std::lround(prefs.pollInterval() * kTenths)));
        seconds->setText(QString::number(prefs.pollInterval(), 'f', 1) + u"s"_s);
    };
    showRate();
    connect(&prefs, &Preferences::pollIntervalChanged, slider, showRate);
    connect(slider, &QSlider::valueChanged, slider,
            [&prefs](int tenths) { prefs.setPollInterval(double(tenths) / kTenths); });
    polling->addRow(u"Check clipboard every"_s, rate);
    form.hint(
        polling,
        u"Tindrel checks the clipboard on a timer. Lower is snappier; higher uses less CPU."_s);
    form.finish();
}
