#pragma once

#include <QLabel>

// An explanatory note under a control: smaller, quieter text that wraps.
// Shown as plain text, so names from elsewhere cannot turn into markup.
class Hint : public QLabel {
    Q_OBJECT
public:
    explicit Hint(const QString& text = {}, QWidget* parent = nullptr);
};
