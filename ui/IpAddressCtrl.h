// The IPv4 address control: four fields of 0 to 255 that behave like the familiar native control.
#pragma once

#include <QFrame>
#include <array>
#include <cstdint>

class QLineEdit;

class CIpAddressCtrl : public QFrame {
    Q_OBJECT
public:
    explicit CIpAddressCtrl(QWidget* parent = nullptr);

    /// True when all four fields are empty.
    [[nodiscard]] bool IsBlank() const;
    /// The four field values, first field first; an empty field reads as 0.
    [[nodiscard]] std::array<std::uint8_t, 4> GetAddress() const;
    /// The address as dotted decimal text ("192.168.0.1").
    [[nodiscard]] QString AddressText() const;
    void SetAddress(std::uint8_t f0, std::uint8_t f1, std::uint8_t f2, std::uint8_t f3);
    void ClearAddress();

    [[nodiscard]] QLineEdit* Field(int index) const {
        return m_fields[static_cast<std::size_t>(index)];
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnFieldEdited(int index);
    void MoveTo(int index, bool selectAll, bool caretAtEnd);

    std::array<QLineEdit*, 4> m_fields{};
};
