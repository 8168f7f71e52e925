#pragma once

#include <QWidget>

class Hint;
class QDateTime;
class QLabel;
class QLineEdit;
class QPushButton;
class QRView;
class QToolButton;
class SyncService;

// Adding a device: the button that opens a pairing window, the window itself
// (QR code, code, link, countdown, cancel) and, behind a disclosure, the field
// that joins another computer's window by its code or link.
class PairingBox : public QWidget {
    Q_OBJECT
public:
    explicit PairingBox(SyncService& sync, QWidget* parent = nullptr);

    // Redraws from the service; the countdown counts from now.
    void redraw(const QDateTime& now);
    void join();

Q_SIGNALS:
    void pairRequested();

private:
    void buildPairingWindow();
    void buildJoin();

    SyncService& m_sync;

    QPushButton* m_pair;
    Hint* m_pairHint;
    QWidget* m_linkRow;
    QWidget* m_pairing;
    QRView* m_qr;
    QWidget* m_qrColumn;
    QLabel* m_code;
    QLineEdit* m_link;
    QLabel* m_expiry;
    QToolButton* m_disclosure;
    QWidget* m_joinBox;
    QLineEdit* m_joinField;
    QPushButton* m_joinButton;
    // What the service answered to the last join, shown by the field: the
    // pane's last line may be out of sight.
    Hint* m_joinResult;
    Hint* m_nearby;
};
