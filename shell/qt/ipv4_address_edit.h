// An IPv4 address entry of four fields, like the Windows address control:
// digits only, "." or a third digit moves to the next field, the arrow keys
// move across the fields, Backspace in an empty field goes back. The entry
// is one Tab stop: Tab and Shift+Tab leave it from any field, and enter it
// at the first. A field keeps what was typed; entry() says what it holds.
// Enter in any field is the entry's own: it emits returnPressed and goes no
// further (the dialog's default button never sees it).
#pragma once

#include <array>
#include <cstdint>

#include <QFrame>

#include "base/ping_target.h"

class QLineEdit;

namespace kiv::qt {

class Ipv4AddressEdit : public QFrame
{
    Q_OBJECT
public:
    explicit Ipv4AddressEdit(QWidget* parent = nullptr);

    PingAddressEntry entry() const;
    void setAddress(std::uint32_t address);
    void clear();
    QLineEdit* field(int index) const { return mFields[static_cast<std::size_t>(index)]; }

Q_SIGNALS:
    void returnPressed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onEdited(int index);
    void moveTo(int index, bool atEnd);

    std::array<QLineEdit*, 4> mFields{};
};

}  // namespace kiv::qt
