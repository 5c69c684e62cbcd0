#include "shell/qt/ipv4_address_edit.h"

#include <QHBoxLayout>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

namespace kiv::qt {

Ipv4AddressEdit::Ipv4AddressEdit(QWidget* parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(0);
    for (int i = 0; i < 4; ++i) {
        auto* field = new QLineEdit(this);
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setMaxLength(3);
        field->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), field));
        // Only the first field is a Tab stop: the entry is one, as on Windows.
        if (i > 0)
            field->setFocusPolicy(Qt::ClickFocus);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this, i] { onEdited(i); });
        mFields[static_cast<std::size_t>(i)] = field;
        layout->addWidget(field, 1);
        if (i < 3)
            layout->addWidget(new QLabel(QStringLiteral("."), this));
    }
    setFocusProxy(mFields[0]);
}

PingAddressEntry Ipv4AddressEdit::entry() const
{
    PingAddressEntry entry;
    for (std::size_t i = 0; i < mFields.size(); ++i) {
        bool ok = false;
        const int value = mFields[i]->text().toInt(&ok);
        if (ok) {
            ++entry.filledFields;
            entry.fields[i] = value;
        }
    }
    return entry;
}

void Ipv4AddressEdit::setAddress(std::uint32_t address)
{
    for (int i = 0; i < 4; ++i)
        mFields[static_cast<std::size_t>(i)]->setText(
            QString::number((address >> (24 - 8 * i)) & 0xff));
}

void Ipv4AddressEdit::clear()
{
    for (QLineEdit* field : mFields)
        field->clear();
}

void Ipv4AddressEdit::onEdited(int index)
{
    QLineEdit* field = mFields[static_cast<std::size_t>(index)];
    if (field->text().size() == 3 && field->cursorPosition() == 3 && index < 3)
        moveTo(index + 1, false);
}

void Ipv4AddressEdit::moveTo(int index, bool atEnd)
{
    QLineEdit* field = mFields[static_cast<std::size_t>(index)];
    field->setFocus();
    if (atEnd)
        field->end(false);
    else
        field->selectAll();
}

bool Ipv4AddressEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress)
        return QFrame::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    for (int i = 0; i < 4; ++i) {
        QLineEdit* field = mFields[static_cast<std::size_t>(i)];
        if (watched != field)
            continue;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            Q_EMIT returnPressed();
            return true;
        }
        if ((key->key() == Qt::Key_Period || key->key() == Qt::Key_Space) && i < 3) {
            if (!field->text().isEmpty())
                moveTo(i + 1, false);
            return true;
        }
        if (key->key() == Qt::Key_Backspace && field->text().isEmpty() && i > 0) {
            moveTo(i - 1, true);
            return true;
        }
        if (key->key() == Qt::Key_Right && field->cursorPosition() == field->text().size() && i < 3 &&
            !field->hasSelectedText()) {
            moveTo(i + 1, false);
            mFields[static_cast<std::size_t>(i + 1)]->home(false);
            return true;
        }
        if (key->key() == Qt::Key_Left && field->cursorPosition() == 0 && i > 0 && !field->hasSelectedText()) {
            moveTo(i - 1, true);
            return true;
        }
        // Shift+Tab leaves the entry from the first field, so it goes to the
        // control before the entry, not to the first field.
        const bool backTab = key->key() == Qt::Key_Backtab ||
                             (key->key() == Qt::Key_Tab && (key->modifiers() & Qt::ShiftModifier));
        if (backTab && i > 0)
            mFields[0]->setFocus(Qt::BacktabFocusReason);
    }
    return QFrame::eventFilter(watched, event);
}

}  // namespace kiv::qt
