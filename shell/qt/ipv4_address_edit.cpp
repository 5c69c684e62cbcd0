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
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this, i] { onEdited(i); });
        mFields[static_cast<std::size_t>(i)] = field;
        layout->addWidget(field, 1);
        if (i < 3)
            layout->addWidget(new QLabel(QStringLiteral("."), this));
    }
    setFocusProxy(mFields[0]);
}

std::uint32_t Ipv4AddressEdit::address() const
{
    std::uint32_t address = 0;
    for (QLineEdit* field : mFields) {
        bool ok = false;
        int value = field->text().toInt(&ok);
        if (!ok || value < 0)
            value = 0;
        if (value > 255)
            value = 255;
        address = (address << 8) | static_cast<std::uint32_t>(value);
    }
    return address;
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
    if (field->text().toInt() > 255)
        field->setText(QStringLiteral("255"));  // as the Windows control corrects it
    if (field->text().size() == 3 && field->cursorPosition() == 3 && index < 3) {
        mFields[static_cast<std::size_t>(index + 1)]->setFocus();
        mFields[static_cast<std::size_t>(index + 1)]->selectAll();
    }
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
            if (!field->text().isEmpty()) {
                mFields[static_cast<std::size_t>(i + 1)]->setFocus();
                mFields[static_cast<std::size_t>(i + 1)]->selectAll();
            }
            return true;
        }
        if (key->key() == Qt::Key_Backspace && field->text().isEmpty() && i > 0) {
            QLineEdit* previous = mFields[static_cast<std::size_t>(i - 1)];
            previous->setFocus();
            previous->end(false);
            return true;
        }
    }
    return QFrame::eventFilter(watched, event);
}

}  // namespace kiv::qt
