#include "ui/settings/AboutPane.h"

#include "core/prefs/Preferences.h"
#include "core/store/ClipStore.h"
#include "ui/Symbols.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
QLabel* centred(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

QFont scaled(QFont font, double factor, bool bold = false) {
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setBold(bold);
    return font;
}
} // namespace

AboutPane::AboutPane(Preferences& prefs, ClipStore& store, QWidget* parent)
    : QWidget(parent), m_prefs(prefs), m_store(store) {
    confirmReset = [this] {
        QMessageBox box(QMessageBox::Warning, u"Tindrel"_s, u"Reset all settings?"_s,
                        QMessageBox::NoButton, window());
        box.setInformativeText(
            u"Every preference returns to its default. Your clips are not affected."_s);
        QPushButton* reset = box.addButton(u"Reset"_s, QMessageBox::AcceptRole);
        box.addButton(u"Cancel"_s, QMessageBox::RejectRole);
        box.exec();
        return box.clickedButton() == reset;
    };

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 28, 20, 8);
    column->setSpacing(6);

    auto* icon = new QLabel(this);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(Symbols::tinted(u"pin.circle.fill"_s, palette().color(QPalette::Highlight), 56,
                                    devicePixelRatioF()));
    column->addWidget(icon);

    QLabel* name = centred(u"Tindrel"_s, this);
    name->setFont(scaled(font(), 1.6, true));
    column->addWidget(name);

    QLabel* version = centred(versionText(QStringLiteral(TINDREL_VERSION)), this);
    version->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(version);

    QLabel* about = centred(u"A clipboard manager with clips you can pin forever."_s, this);
    about->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(about);
    column->addStretch(1);

    auto* resetButton = new QPushButton(u"Reset All Settings…"_s, this);
    connect(resetButton, &QPushButton::clicked, this, &AboutPane::resetAll);
    column->addWidget(resetButton, 0, Qt::AlignHCenter);

    QLabel* where = centred(u"Clips are stored on this computer. With sync on, they also go, "
                            "end-to-end encrypted, to your paired devices."_s,
                            this);
    where->setForegroundRole(QPalette::PlaceholderText);
    where->setFont(scaled(font(), 0.85));
    column->addSpacing(8);
    column->addWidget(where);
}

QString AboutPane::versionText(const QString& version) {
    return u"Version "_s + (version.isEmpty() ? u"1.0"_s : version);
}

void AboutPane::resetAll() {
    if (!confirmReset())
        return;
    // The default history limit would trim a longer history at once.
    m_prefs.resetToDefaults(int(m_store.history().size()));
}
