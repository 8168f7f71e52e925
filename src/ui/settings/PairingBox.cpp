#include "ui/settings/PairingBox.h"

#include "core/sync/PairingCode.h"
#include "core/sync/SyncService.h"
#include "ui/settings/Hint.h"
#include "ui/settings/QRView.h"
#include "ui/settings/SyncPane.h"

#include <QClipboard>
#include <QDateTime>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

PairingBox::PairingBox(SyncService& sync, QWidget* parent) : QWidget(parent), m_sync(sync) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);

    m_pair = new QPushButton(u"Show Pairing Code"_s, this);
    m_pair->setObjectName(u"pairButton"_s);
    connect(m_pair, &QPushButton::clicked, this, &PairingBox::pairRequested);
    column->addWidget(m_pair, 0, Qt::AlignLeft);
    m_pairHint = new Hint(u"The code is valid for 3 minutes and can pair one device."_s, this);
    column->addWidget(m_pairHint);

    buildPairingWindow();
    column->addWidget(m_pairing);

    buildJoin();
    column->addWidget(m_disclosure, 0, Qt::AlignLeft);
    column->addWidget(m_joinBox);
}

void PairingBox::buildPairingWindow() {
    m_pairing = new QWidget(this);
    m_pairing->setObjectName(u"pairingWindow"_s);
    auto* pairingRow = new QHBoxLayout(m_pairing);
    pairingRow->setContentsMargins(0, 0, 0, 0);
    pairingRow->setSpacing(14);
    m_qrColumn = new QWidget(m_pairing);
    auto* qrColumn = new QVBoxLayout(m_qrColumn);
    qrColumn->setContentsMargins(0, 0, 0, 0);
    m_qr = new QRView(m_qrColumn);
    m_qr->setObjectName(u"pairingQR"_s);
    qrColumn->addWidget(m_qr);
    auto* scan = new Hint(u"The pairing link as a QR code"_s, m_qrColumn);
    QFont smallest = scan->font();
    smallest.setPointSizeF(smallest.pointSizeF() * 0.9);
    scan->setFont(smallest);
    scan->setAlignment(Qt::AlignHCenter);
    qrColumn->addWidget(scan);
    qrColumn->addStretch(1);
    pairingRow->addWidget(m_qrColumn, 0, Qt::AlignTop);

    auto* codeColumn = new QVBoxLayout;
    m_code = new QLabel(m_pairing);
    m_code->setObjectName(u"pairingCode"_s);
    m_code->setTextFormat(Qt::PlainText);
    m_code->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont codeFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    codeFont.setPointSizeF(18); // 24 px at 96 dpi
    codeFont.setWeight(QFont::DemiBold);
    codeFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    m_code->setFont(codeFont);
    codeColumn->addWidget(m_code);
    codeColumn->addWidget(new Hint(u"Type this code on the other computer, or copy the link "
                                   "below and paste it there: the link carries this computer's "
                                   "addresses, so it works even where the two cannot find each "
                                   "other on the network."_s,
                                   m_pairing));
    m_link = new QLineEdit(m_pairing);
    m_link->setObjectName(u"pairingLink"_s);
    m_link->setReadOnly(true);
    auto* copyLink = new QPushButton(u"Copy Link"_s, m_pairing);
    copyLink->setObjectName(u"copyLinkButton"_s);
    connect(copyLink, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_link->text()); });
    m_linkRow = new QWidget(m_pairing);
    auto* linkColumn = new QVBoxLayout(m_linkRow);
    linkColumn->setContentsMargins(0, 0, 0, 0);
    linkColumn->addWidget(new Hint(u"Or paste this link on the other computer:"_s, m_linkRow));
    auto* linkRow = new QHBoxLayout;
    linkRow->addWidget(m_link, 1);
    linkRow->addWidget(copyLink);
    linkColumn->addLayout(linkRow);
    codeColumn->addWidget(m_linkRow);
    m_expiry = new Hint(QString(), m_pairing);
    m_expiry->setObjectName(u"pairingExpiry"_s);
    codeColumn->addWidget(m_expiry);
    auto* cancel = new QPushButton(u"Cancel"_s, m_pairing);
    cancel->setObjectName(u"cancelPairingButton"_s);
    connect(cancel, &QPushButton::clicked, &m_sync, &SyncService::endPairing);
    codeColumn->addWidget(cancel, 0, Qt::AlignLeft);
    codeColumn->addStretch(1);
    pairingRow->addLayout(codeColumn, 1);
}

void PairingBox::buildJoin() {
    m_disclosure = new QToolButton(this);
    m_disclosure->setObjectName(u"joinDisclosure"_s);
    m_disclosure->setText(u"Pair with another computer instead"_s);
    m_disclosure->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_disclosure->setArrowType(Qt::RightArrow);
    m_disclosure->setCheckable(true);
    m_disclosure->setAutoRaise(true);
    m_joinBox = new QWidget(this);
    m_joinBox->setObjectName(u"joinBox"_s);
    auto* joinColumn = new QVBoxLayout(m_joinBox);
    joinColumn->setContentsMargins(18, 0, 0, 0);
    joinColumn->addWidget(new Hint(u"Code from the other computer"_s, m_joinBox));
    m_joinField = new QLineEdit(m_joinBox);
    m_joinField->setObjectName(u"joinCodeField"_s);
    m_joinField->setPlaceholderText(u"XXX-XXX-XXX"_s);
    m_joinField->setClearButtonEnabled(true);
    m_joinButton = new QPushButton(u"Join"_s, m_joinBox);
    m_joinButton->setObjectName(u"joinButton"_s);
    m_joinButton->setEnabled(false);
    auto* joinRow = new QHBoxLayout;
    joinRow->addWidget(m_joinField, 1);
    joinRow->addWidget(m_joinButton);
    joinColumn->addLayout(joinRow);
    joinColumn->addWidget(new Hint(u"The whole pairing link shown beside the other computer's QR "
                                   "code works too — it finds that computer even where network "
                                   "discovery is blocked."_s,
                                   m_joinBox));
    m_joinResult = new Hint(QString(), m_joinBox);
    m_joinResult->setObjectName(u"joinResult"_s);
    m_joinResult->setVisible(false);
    joinColumn->addWidget(m_joinResult);
    m_nearby = new Hint(QString(), m_joinBox);
    m_nearby->setObjectName(u"unpairedNearby"_s);
    joinColumn->addWidget(m_nearby);
    m_joinBox->setVisible(false);
    connect(m_disclosure, &QToolButton::toggled, this, [this](bool open) {
        m_disclosure->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        m_joinBox->setVisible(open);
        if (open)
            m_joinField->setFocus();
    });
    connect(m_joinField, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_joinButton->setEnabled(SyncPane::canJoin(text)); });
    connect(m_joinField, &QLineEdit::returnPressed, this, &PairingBox::join);
    connect(m_joinButton, &QPushButton::clicked, this, &PairingBox::join);
    // The requests going out, then what came of them, or why the device we
    // asked refused.
    const auto showJoinResult = [this](const QString& outcome) {
        m_joinResult->setText(outcome);
        m_joinResult->setVisible(true);
    };
    for (auto signal : {&SyncService::joinFinished, &SyncService::joinEnded})
        connect(&m_sync, signal, this, showJoinResult);
    connect(&m_sync, &SyncService::joinRefused, this, showJoinResult);
}

void PairingBox::redraw(const QDateTime& now) {
    const QString code = m_sync.pairingCode();
    const bool open = !code.isEmpty();
    m_pair->setVisible(!open);
    m_pair->setEnabled(!m_sync.isPreparingPairing());
    m_pairHint->setVisible(!open);
    m_pairing->setVisible(open);
    if (open) {
        m_code->setText(PairingCode::format(code));
        const std::optional<QString> link = m_sync.pairingURL();
        m_qr->setText(link.value_or(QString()));
        m_qrColumn->setVisible(link && m_qr->hasImage());
        m_link->setText(link.value_or(QString()));
        m_link->setCursorPosition(0);
        m_linkRow->setVisible(link.has_value());
        m_expiry->setText(u"Expires in "_s + SyncPane::countdown(now, m_sync.pairingExpiry()) +
                          u"."_s);
    } else {
        m_qr->setText(QString());
    }
    const int nearby = m_sync.discoveredUnpaired();
    m_nearby->setVisible(nearby > 0);
    m_nearby->setText(nearby > 0 ? SyncPane::unpairedNearby(nearby) : QString());
}

void PairingBox::join() {
    const QString typed = m_joinField->text().trimmed();
    if (!SyncPane::canJoin(typed))
        return;
    m_joinResult->setVisible(false);
    m_sync.joinPairing(typed);
    m_joinField->clear();
}
