#include "ui/panel/SaveProblemLine.h"

#include "core/store/ClipStore.h"
#include "ui/PlainText.h"
#include "ui/panel/PanelColors.h"

using namespace Qt::StringLiterals;

SaveProblemLine::SaveProblemLine(ClipStore& store, QWidget* parent)
    : QLabel(parent), m_store(store) {
    // The error comes from the system and may name paths: never markup.
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setContentsMargins(12, 4, 12, 4);
    QPalette colors = palette();
    colors.setColor(QPalette::WindowText, PanelColors::alert());
    setPalette(colors);
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    setFont(small);
    connect(&m_store, &ClipStore::saveErrorChanged, this, &SaveProblemLine::refresh);
    refresh();
}

QString SaveProblemLine::describe(const QString& error) {
    return u"Clips not saved: "_s + error;
}

void SaveProblemLine::refresh() {
    const std::optional<QString>& error = m_store.saveError();
    setText(error ? describe(*error) : QString());
    setToolTip(error ? PlainText::tooltip(describe(*error)) : QString());
    setVisible(error.has_value());
}
