#include "ui/settings/DesktopShortcutHint.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

DesktopShortcutHint::DesktopShortcutHint(const QString& command, QWidget* parent)
    : QWidget(parent), m_command(command) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_label = new QLabel(u"Set this in your desktop's keyboard settings: "_s + command, this);
    m_label->setTextFormat(Qt::PlainText);
    m_label->setWordWrap(true);
    m_label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_copy = new QPushButton(u"Copy"_s, this);
    m_copy->setToolTip(u"Copy the command"_s);
    connect(m_copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_command); });
    layout->addWidget(m_label, 1);
    layout->addWidget(m_copy, 0, Qt::AlignTop);
}

QString DesktopShortcutHint::text() const {
    return m_label->text();
}
