// An IPv4 address entry of four fields, like the Windows address control:
// digits only, 0 to 255 per field, "." or a third digit moves to the next
// field, Backspace in an empty field goes back. Blank fields read as 0.
// Enter in any field is the entry's own: it emits returnPressed and goes no
// further (the dialog's default button never sees it).
#pragma once

#include <array>
#include <cstdint>

#include <QFrame>

class QLineEdit;

namespace kiv::qt {

class Ipv4AddressEdit : public QFrame
{
    Q_OBJECT
public:
    explicit Ipv4AddressEdit(QWidget* parent = nullptr);

    // First field in the most significant byte.
    std::uint32_t address() const;
    void setAddress(std::uint32_t address);
    void clear();
    QLineEdit* field(int index) const { return mFields[static_cast<std::size_t>(index)]; }

Q_SIGNALS:
    void returnPressed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void onEdited(int index);

    std::array<QLineEdit*, 4> mFields{};
};

}  // namespace kiv::qt
