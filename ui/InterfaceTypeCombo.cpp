// The interface-type combo box and its accessible interface.
#include "ui/InterfaceTypeCombo.h"

#include <QAccessibleWidget>

namespace {

class InterfaceTypeComboAccessible : public QAccessibleWidget {
public:
    explicit InterfaceTypeComboAccessible(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) return Combo()->currentText();
        return QAccessibleWidget::text(t);
    }
    QStringList actionNames() const override {
        return QAccessibleWidget::actionNames() << showMenuAction();
    }
    void doAction(const QString& name) override {
        if (name == showMenuAction()) {
            Combo()->showPopup();
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    QComboBox* Combo() const { return static_cast<QComboBox*>(widget()); }
};

QAccessibleInterface* CreateAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("CInterfaceTypeCombo") && object != nullptr &&
        object->isWidgetType()) {
        // Qt's accessibility cache owns the interfaces it is given.
        return new InterfaceTypeComboAccessible(static_cast<QWidget*>(object));
    }
    return nullptr;
}

}  // namespace

CInterfaceTypeCombo::CInterfaceTypeCombo(QWidget* parent) : QComboBox(parent) {
    static const bool installed = [] {
        QAccessible::installFactory(CreateAccessible);
        return true;
    }();
    (void)installed;
}
