// The IPv4 address control.
#include "ui/IpAddressCtrl.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QValidator>

#include "ui/InterfaceTypeCombo.h"

namespace {

/// Up to three decimal digits.
class FieldValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        if (input.size() > 3) return Invalid;
        for (const QChar c : input) {
            if (c < u'0' || c > u'9') return Invalid;
        }
        return Acceptable;
    }
};

constexpr int kFields = 4;

}  // namespace

CIpAddressCtrl::CIpAddressCtrl(QWidget* parent) : QFrame(parent) {
    InstallAccessibleFactory();
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setAccessibleName(QStringLiteral("IP地址"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(0);
    auto* validator = new FieldValidator(this);
    for (int i = 0; i < kFields; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAccessibleName(QStringLiteral("IP地址分隔点%1").arg(i));
            layout->addWidget(dot);
        }
        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("field%1").arg(i));
        field->setAccessibleName(QStringLiteral("IP地址第%1段").arg(i + 1));
        field->setFrame(false);
        field->setAlignment(Qt::AlignCenter);
        field->setValidator(validator);
        field->setContextMenuPolicy(Qt::NoContextMenu);
        // The control is one tab stop: Tab leaves it from any field; clicks reach every field.
        field->setFocusPolicy(i == 0 ? Qt::StrongFocus : Qt::ClickFocus);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this, [this, i] { OnFieldEdited(i); });
        layout->addWidget(field, 1);
        m_fields[static_cast<std::size_t>(i)] = field;
    }
    setFocusProxy(m_fields[0]);
    for (int i = 0; i + 1 < kFields; ++i) {
        setTabOrder(m_fields[static_cast<std::size_t>(i)],
                    m_fields[static_cast<std::size_t>(i + 1)]);
    }
}

bool CIpAddressCtrl::IsBlank() const {
    for (const QLineEdit* field : m_fields) {
        if (!field->text().isEmpty()) return false;
    }
    return true;
}

std::array<std::uint8_t, 4> CIpAddressCtrl::GetAddress() const {
    std::array<std::uint8_t, 4> address{};
    for (std::size_t i = 0; i < address.size(); ++i) {
        const int value = m_fields[i]->text().toInt();  // an empty field gives 0
        address[i] = static_cast<std::uint8_t>(value > 255 ? 255 : value);
    }
    return address;
}

QString CIpAddressCtrl::AddressText() const {
    const auto a = GetAddress();
    return QStringLiteral("%1.%2.%3.%4").arg(a[0]).arg(a[1]).arg(a[2]).arg(a[3]);
}

void CIpAddressCtrl::SetAddress(std::uint8_t f0, std::uint8_t f1, std::uint8_t f2,
                                std::uint8_t f3) {
    const std::array<std::uint8_t, 4> values{f0, f1, f2, f3};
    for (std::size_t i = 0; i < values.size(); ++i)
        m_fields[i]->setText(QString::number(values[i]));
}

void CIpAddressCtrl::ClearAddress() {
    for (QLineEdit* field : m_fields) field->clear();
}

void CIpAddressCtrl::OnFieldEdited(int index) {
    QLineEdit* field = m_fields[static_cast<std::size_t>(index)];
    if (field->text().toInt() > 255) field->setText(QStringLiteral("255"));
    // A third digit completes the field: the caret moves on to the next one.
    if (field->text().size() == 3 && field->cursorPosition() == 3 && index + 1 < kFields) {
        MoveTo(index + 1, true, false);
    }
}

void CIpAddressCtrl::MoveTo(int index, bool selectAll, bool caretAtEnd) {
    QLineEdit* field = m_fields[static_cast<std::size_t>(index)];
    field->setFocus(Qt::OtherFocusReason);
    if (selectAll) {
        field->selectAll();
    } else {
        field->deselect();
        field->setCursorPosition(caretAtEnd ? static_cast<int>(field->text().size()) : 0);
    }
}

bool CIpAddressCtrl::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return QFrame::eventFilter(watched, event);
    int index = -1;
    for (int i = 0; i < kFields; ++i) {
        if (watched == m_fields[static_cast<std::size_t>(i)]) index = i;
    }
    if (index < 0) return QFrame::eventFilter(watched, event);

    QLineEdit* field = m_fields[static_cast<std::size_t>(index)];
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool atStart = field->cursorPosition() == 0 && !field->hasSelectedText();
    const bool atEnd = field->cursorPosition() == field->text().size() && !field->hasSelectedText();
    switch (key->key()) {
        case Qt::Key_Period:
        case Qt::Key_Space:
            // A dot ends a field that holds digits and moves on; in an empty field it is ignored.
            if (!field->text().isEmpty() && index + 1 < kFields) MoveTo(index + 1, true, false);
            return true;
        case Qt::Key_Backspace:
            if (atStart && index > 0) {
                MoveTo(index - 1, false, true);
                return true;
            }
            break;
        case Qt::Key_Left:
            if (atStart && index > 0) {
                MoveTo(index - 1, false, true);
                return true;
            }
            break;
        case Qt::Key_Right:
            if (atEnd && index + 1 < kFields) {
                MoveTo(index + 1, false, false);
                return true;
            }
            break;
        default:
            break;
    }
    return QFrame::eventFilter(watched, event);
}
