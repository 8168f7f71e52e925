#include "ui/panel/StartNotice.h"

#include "core/panel/PanelGeometry.h"
#include "ui/panel/PanelColors.h"
#include "ui/panel/PanelDivider.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

StartNotice::StartNotice(QWidget* parent) : QWidget(parent) {
    const QString ours = QString::fromUtf16(command);
    m_text = u"This desktop shows no Tindrel icon and no shortcut opens it yet. To open it again, "
             "bind "_s +
             ours + u" to a key."_s;
    auto* bar = new QWidget(this);
    bar->setFixedHeight(int(PanelGeometry::noticeHeight) - 1);
    bar->setAutoFillBackground(true);
    QPalette colors = bar->palette();
    colors.setColor(QPalette::Window, PanelColors::withAlpha(PanelColors::accent(colors), 0.10));
    bar->setPalette(colors);

    auto* label = new QLabel(m_text, bar);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont font = label->font();
    font.setPixelSize(11);
    label->setFont(font);
    m_copy = new QPushButton(u"Copy Command"_s, bar);
    m_copy->setFont(font);
    connect(m_copy, &QPushButton::clicked, this,
            [ours] { QGuiApplication::clipboard()->setText(ours); });
    m_settings = new QPushButton(u"Keyboard Shortcuts…"_s, bar);
    m_settings->setFont(font);
    m_settings->setVisible(false);
    // Started on its own: the panel never waits on another program.
    connect(m_settings, &QPushButton::clicked, this, [this] {
        if (!m_program.isEmpty())
            QProcess::startDetached(m_program.first(), m_program.mid(1));
    });

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addStretch(1);
    buttons->addWidget(m_copy);
    buttons->addWidget(m_settings);
    auto* column = new QVBoxLayout(bar);
    column->setContentsMargins(12, 4, 12, 4);
    column->setSpacing(2);
    column->addWidget(label);
    column->addLayout(buttons);
    PanelDivider::stack(this, bar, Qt::BottomEdge);
}

void StartNotice::setKeyboardSettings(const QStringList& program) {
    m_program = program;
    m_settings->setVisible(!program.isEmpty());
}

QString StartNotice::text() const {
    return m_text;
}
