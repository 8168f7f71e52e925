#include "ui/settings/AppPicker.h"

#include "ui/settings/AppIcon.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

AppPicker::AppPicker(const QList<InstalledApp>& apps, QWidget* parent)
    : QDialog(parent), m_search(new QLineEdit(this)), m_list(new QListWidget(this)) {
    setWindowTitle(u"Ignore Apps"_s);
    resize(420, 480);
    m_search->setPlaceholderText(u"Search"_s);
    m_search->setClearButtonEnabled(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setIconSize({24, 24});
    for (const InstalledApp& app : apps) {
        auto* item = new QListWidgetItem(appIcon(app.icon, palette()), app.name, m_list);
        item->setData(Qt::UserRole, app.id);
        item->setToolTip(app.id.toHtmlEscaped());
    }
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ignore = buttons->addButton(u"Ignore"_s, QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel);
    ignore->setEnabled(false);
    connect(m_list, &QListWidget::itemSelectionChanged, ignore,
            [this, ignore] { ignore->setEnabled(!m_list->selectedItems().isEmpty()); });
    connect(m_list, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_search, &QLineEdit::textChanged, this, &AppPicker::filter);

    auto* column = new QVBoxLayout(this);
    column->addWidget(m_search);
    column->addWidget(m_list, 1);
    column->addWidget(buttons);
}

void AppPicker::filter(const QString& text) {
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem* item = m_list->item(i);
        const bool match = item->text().contains(text, Qt::CaseInsensitive) ||
                           item->data(Qt::UserRole).toString().contains(text, Qt::CaseInsensitive);
        item->setHidden(!match);
    }
}

QStringList AppPicker::chosenIds() const {
    QStringList ids;
    for (int i = 0; i < m_list->count(); ++i) {
        const QListWidgetItem* item = m_list->item(i);
        if (item->isSelected() && !item->isHidden())
            ids.append(item->data(Qt::UserRole).toString());
    }
    return ids;
}

QStringList AppPicker::choose(const QList<InstalledApp>& apps, QWidget* parent) {
    AppPicker picker(apps, parent);
    return picker.exec() == QDialog::Accepted ? picker.chosenIds() : QStringList();
}
