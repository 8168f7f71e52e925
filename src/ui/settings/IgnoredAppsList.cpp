#include "ui/settings/IgnoredAppsList.h"

#include "core/prefs/Preferences.h"
#include "platform/Workspace.h"
#include "ui/Symbols.h"
#include "ui/settings/AppIcon.h"
#include "ui/settings/AppPicker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace {
// Icon, name and, quieter, the identifier.
QWidget* appRow(const QString& id, const InstalledApp* app, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setSpacing(6);
    auto* icon = new QLabel(row);
    icon->setPixmap(appIcon(app ? app->icon : QString(), row->palette()).pixmap(16, 16));
    auto* name = new QLabel(app ? app->name : id, row);
    name->setTextFormat(Qt::PlainText);
    auto* ident = new QLabel(id, row);
    ident->setTextFormat(Qt::PlainText);
    ident->setForegroundRole(QPalette::PlaceholderText);
    QFont small = ident->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    ident->setFont(small);
    layout->addWidget(icon);
    layout->addWidget(name);
    layout->addWidget(ident, 1);
    return row;
}

QToolButton* symbolButton(const QString& symbol, const QString& name, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setIcon(Symbols::tintedIcon(symbol, parent->palette().color(QPalette::ButtonText), 14));
    button->setAccessibleName(name);
    button->setToolTip(name);
    button->setAutoRaise(false);
    return button;
}
} // namespace

IgnoredAppsList::IgnoredAppsList(Preferences& prefs, Workspace& workspace, QWidget* parent)
    : QWidget(parent), m_prefs(prefs), m_workspace(workspace), m_list(new QListWidget(this)) {
    chooseApps = [this](const QList<InstalledApp>& installed) {
        return AppPicker::choose(installed, window());
    };
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setFixedHeight(110);
    m_list->setAccessibleName(u"Ignored apps"_s);

    QToolButton* add = symbolButton(u"plus"_s, u"Add"_s, this);
    QToolButton* remove = symbolButton(u"minus"_s, u"Remove"_s, this);
    connect(add, &QToolButton::clicked, this, &IgnoredAppsList::addApps);
    connect(remove, &QToolButton::clicked, this, &IgnoredAppsList::removeSelected);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(m_list);
    column->addLayout(buttons);

    refresh();
    connect(&m_prefs, &Preferences::ignoredAppsChanged, this, &IgnoredAppsList::refresh);
}

void IgnoredAppsList::refresh() {
    const QList<InstalledApp> installed = m_workspace.installedApps();
    m_list->clear();
    for (const QString& id : m_prefs.ignoredApps()) {
        const auto app = std::find_if(installed.begin(), installed.end(),
                                      [&id](const InstalledApp& a) { return a.id == id; });
        auto* item = new QListWidgetItem(m_list);
        item->setData(Qt::UserRole, id);
        QWidget* row = appRow(id, app != installed.end() ? &*app : nullptr, m_list);
        item->setSizeHint(row->sizeHint());
        m_list->setItemWidget(item, row);
    }
}

void IgnoredAppsList::addApps() {
    const QStringList chosen = chooseApps(m_workspace.installedApps());
    if (chosen.isEmpty())
        return;
    QStringList ids = m_prefs.ignoredApps();
    for (const QString& id : chosen) {
        if (!id.isEmpty() && !ids.contains(id))
            ids.append(id);
    }
    m_prefs.setIgnoredApps(ids);
}

void IgnoredAppsList::removeSelected() {
    const QListWidgetItem* item = m_list->currentItem();
    if (!item || !item->isSelected())
        return;
    QStringList ids = m_prefs.ignoredApps();
    ids.removeAll(item->data(Qt::UserRole).toString());
    m_prefs.setIgnoredApps(ids);
}
